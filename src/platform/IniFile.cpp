#include "platform/IniFile.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <optional>
#include <vector>

namespace pellora {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string_view TrimBlanks(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

// The section name of a "[Name]" line, if the line is one.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::size_t close = line.find(']');
    std::string_view name =
        line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    return TrimBlanks(name);
}

bool IsComment(std::string_view line) {
    line = TrimBlanks(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// Key and raw value of a "Key=Value" line, if the line is one.
bool SplitKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
    if (IsComment(line))
        return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = TrimBlanks(line.substr(0, eq));
    value = TrimBlanks(line.substr(eq + 1));
    return !key.empty();
}

std::vector<std::string> LoadLines(const std::string& path) {
    if (!FileExists(path))
        return {};
    try {
        return SplitTextLines(ReadFileBytes(path));
    } catch (const std::exception&) {
        return {}; // unreadable reads as all defaults
    }
}

// Finds the key's line; sets sectionEnd to the line after the last key of the first
// matching section (where a new key goes), or npos when the section is absent.
std::size_t FindKey(const std::vector<std::string>& lines, std::string_view section,
                    std::string_view key, std::size_t* sectionEnd = nullptr) {
    bool inSection = false;
    std::size_t end = std::string::npos;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (i == 0 && line.substr(0, Bom.size()) == Bom)
            line.remove_prefix(Bom.size());
        if (auto name = SectionName(line)) {
            inSection = SameText(*name, section);
            if (inSection && end == std::string::npos)
                end = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        std::string_view k, v;
        if (SplitKeyLine(line, k, v)) {
            if (SameText(k, key))
                return i;
            if (end != std::string::npos && end <= i)
                end = i + 1;
        }
    }
    if (sectionEnd)
        *sectionEnd = end;
    return std::string::npos;
}

std::optional<std::string> RawValue(const std::vector<std::string>& lines, std::string_view section,
                                    std::string_view key) {
    std::size_t at = FindKey(lines, section, key);
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view k, v;
    SplitKeyLine(lines[at], k, v);
    return std::string(v);
}

// Line breaks in a value would split it into lines of their own and could forge keys.
std::string OneLine(std::string_view value) {
    std::string result(value);
    for (char& c : result)
        if (c == '\r' || c == '\n')
            c = ' ';
    return result;
}

std::string CleanValue(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > IniFile::MaxValueLength) {
        std::size_t cut = IniFile::MaxValueLength;
        // Do not leave half a UTF-8 sequence at the end.
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
            --cut;
        value.resize(cut);
    }
    return value;
}

} // namespace

IniFile IniFile::FromText(std::string_view text, std::string name) {
    IniFile ini(std::move(name));
    ini.Memory = std::make_shared<const std::vector<std::string>>(SplitTextLines(text));
    return ini;
}

std::optional<std::string> IniFile::ReadRaw(std::string_view section, std::string_view key) const {
    if (Memory)
        return RawValue(*Memory, section, key);
    return RawValue(LoadLines(Path), section, key);
}

void IniFile::RequireWritable() const {
    if (Memory)
        throw EFileError(
            Format("Cannot write to \"%s\": the settings are read-only", Path.c_str()));
}

std::int32_t IniFile::StrToIntDef(std::string_view text, std::int32_t defaultValue) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::string_view digits = text.substr(2);
        if (digits.size() > 8)
            return defaultValue;
        std::uint32_t value = 0;
        for (char c : digits) {
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return defaultValue;
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return static_cast<std::int32_t>(value); // 0xFFFFFFFF reads as -1, as hex always did
    }
    return ParseInt32(text).value_or(defaultValue);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    std::optional<std::string> raw = ReadRaw(section, key);
    return CleanValue(raw ? *raw : std::string(TrimBlanks(defaultValue)));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    std::optional<std::string> raw = ReadRaw(section, key);
    return raw ? StrToIntDef(CleanValue(*raw), defaultValue) : defaultValue;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return ReadRaw(section, key).has_value();
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    RequireWritable();
    std::vector<std::string> lines = LoadLines(Path);
    std::string keyLine(key);
    keyLine += '=';
    keyLine += OneLine(value);
    std::size_t sectionEnd = std::string::npos;
    std::size_t at = FindKey(lines, section, key, &sectionEnd);
    if (at != std::string::npos) {
        lines[at] = keyLine;
    } else if (sectionEnd != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), keyLine);
    } else {
        // Built piecewise: GCC 12 warns falsely (-Wrestrict) about "[" + std::string.
        std::string header = "[";
        header.append(section).append("]");
        lines.push_back(std::move(header));
        lines.push_back(keyLine);
    }
    WriteTextLines(Path, lines);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
    RequireWritable();
    std::vector<std::string> lines = LoadLines(Path);
    std::size_t at = FindKey(lines, section, key);
    if (at == std::string::npos)
        return;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    WriteTextLines(Path, lines);
}

} // namespace pellora
