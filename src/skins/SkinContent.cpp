#include "skins/SkinContent.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <sys/stat.h>

namespace pellora {

std::optional<TColor> ParseColourText(std::string_view text) {
    text = TrimView(text);
    if (text.empty())
        return std::nullopt;
    unsigned fields[3] = {0, 0, 0};
    std::size_t field = 0;
    unsigned value = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
            continue;
        }
        if (field < 3)
            fields[field] = value;
        ++field;
        value = 0;
    }
    if (field < 3)
        fields[field] = value;
    return RGBColor(static_cast<std::uint8_t>(fields[0]), static_cast<std::uint8_t>(fields[1]),
                    static_cast<std::uint8_t>(fields[2]));
}

std::string ImageEntryName(std::string_view value) {
    // Skins are made on systems whose paths use '\' and drive letters.
    std::size_t cut = value.find_last_of("\\/:");
    std::string_view name = cut == std::string_view::npos ? value : value.substr(cut + 1);
    if (name.empty())
        return {};
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.substr(dot) != ".bmp")
        return {};
    return std::string(name);
}

TSkinContent::TLoadResult TSkinContent::Load(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return TLoadResult::NoFile;
    if (static_cast<std::uint64_t>(st.st_size) > MaxFileSize) {
        Error = Format("The skin file \"%s\" is too large to be a skin file.", fileName.c_str());
        return TLoadResult::Rejected;
    }
    return LoadFromBytes(ReadFileBytes(fileName), fileName) ? TLoadResult::Loaded
                                                            : TLoadResult::Rejected;
}

bool TSkinContent::LoadFromBytes(std::string fileImage, const std::string& fileName) {
    TSkinReader entries;
    entries.OnMessage = OnMessage;
    entries.FileName = fileName;
    if (!entries.Open(fileImage)) {
        Error = entries.ErrorText();
        return false;
    }
    // The missing end decodes as zero bits, which no image or setting survives: a cut-off
    // file is as unusable as a damaged one.
    if (entries.IsTruncated()) {
        Error = Format("The skin file \"%s\" is truncated: its compressed data ends before the "
                       "content it declares.",
                       fileName.empty() ? "(unnamed)" : fileName.c_str());
        return false;
    }
    return Adopt(entries, std::move(fileImage));
}

bool TSkinContent::LoadFromUnpacked(std::string unpacked) {
    TSkinReader entries;
    entries.OnMessage = OnMessage;
    if (!entries.OpenUnpacked(std::move(unpacked))) {
        Error = entries.ErrorText();
        return false;
    }
    return Adopt(entries, {});
}

bool TSkinContent::Adopt(TSkinReader& entries, std::string fileImage) {
    std::string iniText;
    std::optional<std::string> iniName = entries.ExtractByPart(".ini", iniText);

    Error.clear();
    Image = std::move(fileImage);
    Entries = std::move(entries);
    IniEntry = iniName.value_or(std::string());
    Settings = IniFile::FromText(iniText, IniEntry);
    return true;
}

std::string TSkinContent::ReadImage(std::string_view section, std::string_view key) const {
    std::string name = ImageEntryName(Settings.ReadString(section, key, ""));
    std::string bytes;
    if (!name.empty())
        Entries.Extract(name, bytes);
    return bytes;
}

std::optional<TColor> TSkinContent::ReadColour(std::string_view section,
                                               std::string_view key) const {
    return ParseColourText(Settings.ReadString(section, key, ""));
}

TSkinColours ReadSkinColours(const TSkinContent& skin) {
    TSkinColours colours;
    for (std::size_t i = 0; i < SkinColourKeys.size(); ++i)
        colours[i] = skin.ReadColour("Colours", SkinColourKeys[i]);
    return colours;
}

} // namespace pellora
