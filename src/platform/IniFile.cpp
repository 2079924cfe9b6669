#include "platform/IniFile.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
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

// For a write: a file that is there but cannot be read must not be replaced by one that
// holds only the new key.
std::vector<std::string> LoadLinesToChange(const std::string& path) {
    if (!FileExists(path))
        return {};
    return SplitTextLines(ReadFileBytes(path));
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

// Sets the key's line in place, or adds it after the section's last key, or adds the
// section at the end.
void SetKey(std::vector<std::string>& lines, std::string_view section, std::string_view key,
            std::string_view value) {
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
}

// True when there was such a key.
bool RemoveKey(std::vector<std::string>& lines, std::string_view section, std::string_view key) {
    std::size_t at = FindKey(lines, section, key);
    if (at == std::string::npos)
        return false;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

std::string ReadStringFrom(const std::optional<std::string>& raw, std::string_view defaultValue) {
    return CleanValue(raw ? *raw : std::string(TrimBlanks(defaultValue)));
}

std::int32_t ReadIntegerFrom(const std::optional<std::string>& raw, std::int32_t defaultValue) {
    return raw ? IniFile::StrToIntDef(CleanValue(*raw), defaultValue) : defaultValue;
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
    return ReadStringFrom(ReadRaw(section, key), defaultValue);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    return ReadIntegerFrom(ReadRaw(section, key), defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return ReadRaw(section, key).has_value();
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Update([&](IniBatch& batch) { batch.WriteString(section, key, value); });
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
    Update([&](IniBatch& batch) { batch.DeleteKey(section, key); });
}

void IniFile::Update(const std::function<void(IniBatch&)>& edit) {
    IniBatch batch(*this);
    edit(batch);
    batch.Commit();
}

std::string IniFile::LockFileName(const std::string& path) {
    return path + ".lock";
}

IniBatch::IniBatch(const IniFile& file) : Path(file.Path) {
    file.RequireWritable();
    const std::string folder = ExtractFilePath(Path);
    if (!folder.empty() && !ForceDirectories(folder))
        throw EFileError(
            Format("Cannot create the folder \"%s\": %s", folder.c_str(), std::strerror(errno)));
    Lock = std::make_unique<FileLock>(IniFile::LockFileName(Path));
    Load();
}

IniBatch::~IniBatch() = default;

IniBatch::Stamp IniBatch::StampOf(const std::string& path) {
    struct stat st {};
    Stamp stamp;
    if (::stat(path.c_str(), &st) != 0)
        return stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.ModifiedNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

void IniBatch::Load() {
    Loaded = StampOf(Path);
    Lines = LoadLinesToChange(Path);
}

std::string IniBatch::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    return ReadStringFrom(RawValue(Lines, section, key), defaultValue);
}

std::int32_t IniBatch::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
    return ReadIntegerFrom(RawValue(Lines, section, key), defaultValue);
}

bool IniBatch::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniBatch::ValueExists(std::string_view section, std::string_view key) const {
    return RawValue(Lines, section, key).has_value();
}

void IniBatch::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    SetKey(Lines, section, key, value);
    Edits.push_back({std::string(section), std::string(key), std::string(value)});
}

void IniBatch::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniBatch::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniBatch::DeleteKey(std::string_view section, std::string_view key) {
    if (RemoveKey(Lines, section, key))
        Edits.push_back({std::string(section), std::string(key), std::nullopt});
}

void IniBatch::Commit() {
    if (Edits.empty())
        return;
    // Under the lock only this thread can have changed the file since it was read, through
    // another object; keep what it wrote and make these edits over it.
    if (!(StampOf(Path) == Loaded)) {
        Lines = LoadLinesToChange(Path);
        for (const Edit& edit : Edits) {
            if (edit.Value)
                SetKey(Lines, edit.Section, edit.Key, *edit.Value);
            else
                RemoveKey(Lines, edit.Section, edit.Key);
        }
    }
    WriteTextLines(Path, Lines);
    Edits.clear();
    Loaded = StampOf(Path);
}

} // namespace pellora
