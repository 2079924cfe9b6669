// Arbitrary bytes as a skin's button data. Input: one mode byte, then
//  mode 0: a packed skin file;
//  mode 1: an unpacked container;
//  mode 2: an ini text, a NUL, then bitmap bytes split at further NULs, packed here into a
//          container whose entries are named so that the ini's image keys can find them.
// The button data and the colour table are read in full; image results must follow the
// image-key rule.

#include "platform/IniFile.h"
#include "skins/SkinContent.h"
#include "skins/ZdSkinData.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "button data: %s\n", what);
    std::abort();
}

void AppendInt32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string Container(std::string_view input) {
    static const char* const names[] = {"skin.ini",  "button.bmp", "Check.bmp",
                                        "radio.BMP", "frame.bmp",  "x"};
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (parts.size() < std::size(names) - 1) {
        std::size_t cut = input.find('\0', start);
        if (cut == std::string_view::npos)
            break;
        parts.push_back(input.substr(start, cut - start));
        start = cut + 1;
    }
    parts.push_back(input.substr(start));
    std::string table;
    for (std::size_t i = 0; i < parts.size(); ++i)
        table.append(names[i]).append("\r\n");
    std::string out;
    AppendInt32(out, 20000);
    AppendInt32(out, static_cast<std::uint32_t>(table.size()));
    AppendInt32(out, 0);
    AppendInt32(out, 0);
    out += table;
    for (auto part : parts)
        AppendInt32(out, static_cast<std::uint32_t>(part.size()));
    for (auto part : parts)
        out += part;
    return out;
}

void CheckImage(const TSkinContent& skin, std::string_view section, std::string_view key,
                const std::string& image) {
    if (image.empty())
        return;
    std::string name = ImageEntryName(skin.Ini().ReadString(section, key, ""));
    std::string entry;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".bmp") != 0 ||
        !skin.Reader().Extract(name, entry) || entry != image)
        Fail("image key rule");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    TSkinContent skin;
    bool loaded = false;
    switch (data[0] % 3) {
    case 0:
        loaded = skin.LoadFromBytes(std::string(input));
        break;
    case 1:
        loaded = skin.LoadFromUnpacked(std::string(input));
        break;
    default:
        loaded = skin.LoadFromUnpacked(Container(input));
        if (!loaded)
            Fail("a well-formed container was refused");
        break;
    }
    if (!loaded)
        return 0;

    TZdDataSkinButton button = TZdSkinData::ReadButtons(skin);
    CheckImage(skin, "Buttons", "Bitmap", button.Bitmap);
    CheckImage(skin, "Buttons", "CheckButton", button.CheckButton);
    CheckImage(skin, "Buttons", "RadioButton", button.RadioButton);
    if (!skin.HasIni() && (button.LeftWidth != 0 || button.NormalColour != -1 ||
                           button.NormalColour2 != clBlack || !button.Bitmap.empty()))
        Fail("defaults without an ini");
    for (auto colour : ReadSkinColours(skin))
        if (colour && (*colour >> 24) != 0)
            Fail("colour text gave more than RGB");
    for (const char* section : {"Personality", "VertScrollThumb", "MDICONTROLS"}) {
        CheckImage(skin, section, "Image", skin.ReadImage(section, "Image"));
        skin.ReadInteger(section, "FrameCount", 3);
    }
    return 0;
}
