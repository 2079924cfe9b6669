#include "skins/ZdSkinData.h"

#include "platform/StrUtils.h"

namespace pellora {

TZdDataSkinButton TZdSkinData::ReadButtons(const TSkinContent& skin) {
    constexpr std::string_view section = "Buttons";
    TZdDataSkinButton button;
    button.LeftWidth = skin.ReadInteger(section, "LeftWidth", 0);
    button.RightWidth = skin.ReadInteger(section, "RightWidth", 0);
    button.TopHeight = skin.ReadInteger(section, "TopHeight", 0);
    button.BottomHeight = skin.ReadInteger(section, "BottomHeight", 0);
    button.Trans = skin.ReadInteger(section, "Trans", 0);
    button.Bitmap = skin.ReadImage(section, "Bitmap");
    button.CheckButton = skin.ReadImage(section, "CheckButton");
    button.RadioButton = skin.ReadImage(section, "RadioButton");
    button.NormalColour = skin.ReadInteger(section, "NormalColour", -1);
    button.MouseOverColour = skin.ReadInteger(section, "MouseOverColour", -1);
    button.PressedColour = skin.ReadInteger(section, "PressedColour", -1);
    button.RadioButtonFrame = skin.ReadInteger(section, "RadioButtonFrame", 0);
    button.CheckButtonFrame = skin.ReadInteger(section, "CheckButtonFrame", 0);
    button.NormalColour2 = skin.ReadColour(section, "NormalColour2").value_or(clBlack);
    button.MouseOverColour2 = skin.ReadColour(section, "MouseOverColour2").value_or(clBlack);
    button.PressedColour2 = skin.ReadColour(section, "PressedColour2").value_or(clBlack);
    return button;
}

bool TZdSkinData::Load(const std::string& fileName) {
    TSkinContent skin;
    skin.OnMessage = OnMessage;
    switch (skin.Load(fileName)) {
    case TSkinContent::TLoadResult::NoFile:
        Error = Format("The skin file \"%s\" does not exist.", fileName.c_str());
        return false;
    case TSkinContent::TLoadResult::Rejected:
        Error = skin.ErrorText();
        return true;
    case TSkinContent::TLoadResult::Loaded:
        break;
    }
    Button = ReadButtons(skin);
    Skin = std::move(skin);
    Error.clear();
    return true;
}

} // namespace pellora
