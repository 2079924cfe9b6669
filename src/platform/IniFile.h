#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// A settings file in the classic private-profile format: [Section] lines and Key=Value
// lines. Every call opens the file afresh; nothing is cached. Section and key names match
// without regard to letter case. A missing or unreadable file reads as all defaults.
// Writes keep every other line as it was, create the file and its folder when missing, and
// replace the file atomically; a failed write throws EFileError.
class IniFile {
public:
    // Values longer than this many bytes are cut when read back.
    static constexpr std::size_t MaxValueLength = 2047;

    explicit IniFile(std::string path) : Path(std::move(path)) {}

    // Settings text already in memory, read with the same rules as a file; `name` only
    // labels it. Such an object is read-only: every write throws EFileError.
    static IniFile FromText(std::string_view text, std::string name = {});

    const std::string& FileName() const { return Path; }
    bool IsInMemory() const { return Memory != nullptr; }

    // Blanks around the value and one pair of matching quotes ('...' or "...") are dropped.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else (or no key) gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    // True when the integer value is not 0.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value); // "1" / "0"
    void DeleteKey(std::string_view section, std::string_view key);

    // The integer rule of ReadInteger, for callers that hold the text already.
    static std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);

private:
    std::optional<std::string> ReadRaw(std::string_view section, std::string_view key) const;
    void RequireWritable() const;

    std::string Path;
    std::shared_ptr<const std::vector<std::string>> Memory; // the lines of an in-memory text
};

} // namespace pellora
