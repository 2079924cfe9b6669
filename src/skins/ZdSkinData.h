#pragma once

#include "skins/SkinContent.h"
#include "skins/SysColors.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pellora {

// A named skin object with its one bitmap. Images are kept as the bitmap file's bytes and
// decoded where they are drawn; empty bytes are an empty image.
struct TZdDataSkinObject {
    std::string Name;
    std::string Bitmap;
};

// The "Buttons" section of a skin's ini.
struct TZdDataSkinButton : TZdDataSkinObject {
    TZdDataSkinButton() { Name = "Buttons"; }

    std::string CheckButton; // read, not drawn by the program
    std::string RadioButton; // read, not drawn by the program
    // Margins of the nine-slice frame cut from each of the 5 frames of Bitmap.
    std::int32_t LeftWidth = 0;
    std::int32_t RightWidth = 0;
    std::int32_t TopHeight = 0;
    std::int32_t BottomHeight = 0;
    std::int32_t Trans = 0; // 1: magenta is transparent
    std::int32_t NormalColour = -1;
    std::int32_t MouseOverColour = -1;
    std::int32_t PressedColour = -1;
    std::int32_t RadioButtonFrame = 0;
    std::int32_t CheckButtonFrame = 0;
    // Caption colours of the normal, hot and pressed states.
    TColor NormalColour2 = clBlack;
    TColor MouseOverColour2 = clBlack;
    TColor PressedColour2 = clBlack;
};

// The button data skinned buttons paint from, loaded from a skin's "skin.skn".
class TZdSkinData {
public:
    // Shown to the user when the file has an older format.
    std::function<void(const std::string& text)> OnMessage;

    // False when the file does not exist; the data loaded before stay. Otherwise true; a
    // file that is not a usable skin file also keeps the earlier data (ErrorText() says
    // why). A skin file without an ini has default button data. Throws EFileError when
    // the file exists but cannot be read.
    bool Load(const std::string& fileName);

    const TZdDataSkinButton& Buttons() const { return Button; }
    // The whole skin file last loaded, with its entries and settings.
    const TSkinContent& Content() const { return Skin; }
    const std::string& FileImage() const { return Skin.FileImage(); }
    // Why the last Load kept the earlier data; empty after a successful one.
    const std::string& ErrorText() const { return Error; }

    // The button settings of a loaded skin file.
    static TZdDataSkinButton ReadButtons(const TSkinContent& skin);

private:
    TSkinContent Skin;
    TZdDataSkinButton Button;
    std::string Error;
};

} // namespace pellora
