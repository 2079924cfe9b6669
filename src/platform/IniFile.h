#pragma once

#include "platform/FileLock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

class IniBatch;

// A settings file in the classic private-profile format: [Section] lines and Key=Value
// lines. Every call opens the file afresh; nothing is cached. Section and key names match
// without regard to letter case. A missing or unreadable file reads as all defaults.
// Writes keep every other line as it was, create the file and its folder when missing, and
// replace the file atomically; a failed write throws EFileError, as does a write to a file
// that exists but cannot be read (it would lose the keys it holds).
//
// Each write reads, changes and replaces the file while holding the lock file beside it
// (LockFileName), so writers in other processes, other threads and other objects never
// lose each other's keys. Reads take no lock: a replace is atomic.
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

    // Several reads and writes as one step: the lock is held while edit runs, the file is
    // read once before and replaced once after it, atomically. When edit throws, nothing
    // is written. Writes through other objects of the same file in the same thread meanwhile
    // do not wait for the lock and are kept.
    void Update(const std::function<void(IniBatch&)>& edit);

    // "<file>.lock": the file every writer of the settings file locks.
    static std::string LockFileName(const std::string& path);

    // The integer rule of ReadInteger, for callers that hold the text already.
    static std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);

private:
    friend class IniBatch;

    std::optional<std::string> ReadRaw(std::string_view section, std::string_view key) const;
    void RequireWritable() const;

    std::string Path;
    std::shared_ptr<const std::vector<std::string>> Memory; // the lines of an in-memory text
};

// The reads and writes of one IniFile::Update, or of an object the caller keeps: the file's
// lock is held for the object's life. Reads see the writes made so far; Commit replaces the
// file with all of them at once. Writes not committed are dropped. Use it in one thread.
class IniBatch {
public:
    // Takes the lock (creating the file's folder when missing) and reads the file. Throws
    // EFileError when the file exists but cannot be read, or cannot be locked.
    explicit IniBatch(const IniFile& file);
    ~IniBatch();
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void DeleteKey(std::string_view section, std::string_view key);

    // Replaces the file once with every write so far; nothing when there was none.
    void Commit();

private:
    struct Edit {
        std::string Section;
        std::string Key;
        std::optional<std::string> Value; // nothing: delete the key
    };
    struct Stamp {
        bool Exists = false;
        std::uint64_t Device = 0, Inode = 0, Size = 0;
        std::int64_t ModifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const std::string& path);
    void Load();

    std::string Path;
    std::unique_ptr<FileLock> Lock;
    std::vector<std::string> Lines;
    std::vector<Edit> Edits; // since the last commit, to apply again over a changed file
    Stamp Loaded;
};

} // namespace pellora
