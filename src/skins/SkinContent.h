#pragma once

#include "platform/IniFile.h"
#include "skins/SkinReader.h"
#include "skins/SysColors.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// A colour text such as "255,128,0": the trimmed text is cut at every byte that is not a
// decimal digit and the first three fields, empty ones included, are red, green and blue.
// An empty or missing field is 0, each number counts modulo 256, further fields are
// ignored. Nothing for an empty text, so the caller applies its own default.
std::optional<TColor> ParseColourText(std::string_view text);

// The entry an image key names: the value's file name part when its extension is exactly
// ".bmp"; empty when the value names no bitmap.
std::string ImageEntryName(std::string_view value);

// One skin file, opened for reading: the container's entries and its describing ini text,
// parsed in memory. Readers of any section take their keys from here.
class TSkinContent {
public:
    // A file larger than this is refused before it is read.
    static constexpr std::uint64_t MaxFileSize = 2ull * TSkinReader::MaxUnpackedSize;

    enum class TLoadResult { Loaded, NoFile, Rejected };

    // Shown to the user when the file has an older format.
    std::function<void(const std::string& text)> OnMessage;

    // NoFile: there is no file at that path. Rejected: not a usable skin file, damaged or cut
    // off (ErrorText() says why, naming the file). In both cases the content loaded before
    // stays. Throws EFileError when the
    // file exists but cannot be read.
    TLoadResult Load(const std::string& fileName);
    // The same for a file already in memory (fileName only names it); false when rejected.
    bool LoadFromBytes(std::string fileImage, const std::string& fileName = {});
    // The same for a container that is already unpacked; FileImage() is then empty.
    bool LoadFromUnpacked(std::string unpacked);

    const std::string& ErrorText() const { return Error; }
    // The whole skin file as read.
    const std::string& FileImage() const { return Image; }
    const TSkinReader& Reader() const { return Entries; }
    // A skin without an ".ini" entry has no settings: every key reads as its default.
    bool HasIni() const { return !IniEntry.empty(); }
    const std::string& IniName() const { return IniEntry; }
    const IniFile& Ini() const { return Settings; }

    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const {
        return Settings.ReadInteger(section, key, defaultValue);
    }
    // The bytes of the bitmap entry the key names; empty when it names none or the entry is
    // missing or empty. The bytes are a bitmap file, decoded only where it is drawn.
    std::string ReadImage(std::string_view section, std::string_view key) const;
    // The key's colour text; nothing when absent or empty.
    std::optional<TColor> ReadColour(std::string_view section, std::string_view key) const;

private:
    bool Adopt(TSkinReader& entries, std::string fileImage);

    std::string Error;
    std::string Image;
    TSkinReader Entries;
    std::string IniEntry;
    IniFile Settings = IniFile::FromText({});
};

// The keys of the "Colours" section, in this order in TSkinColours.
inline constexpr std::array<const char*, 15> SkinColourKeys = {
    "ButtonFace",  "WindowText",   "Scrollbar",      "HilightText", "Hilight",
    "Menubar",     "Menu",         "MenuText",       "ButtonText",  "ButtonHilight",
    "Buttonlight", "ButtonShadow", "ButtonDkShadow", "MenuBarText", "TitleTextActive"};

// One colour per key of SkinColourKeys; nothing where the skin keeps the system colour.
using TSkinColours = std::array<std::optional<TColor>, SkinColourKeys.size()>;
TSkinColours ReadSkinColours(const TSkinContent& skin);

} // namespace pellora
