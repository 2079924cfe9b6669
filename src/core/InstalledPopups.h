#pragma once

#include "core/InstallRecord.h"
#include "core/TextList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// A selection line that could not be read: its number (from 1) and why.
struct TUnreadableLine {
    std::size_t Line = 0;
    std::string Reason; // e.g. "'x' is not a valid integer value"
    bool operator==(const TUnreadableLine&) const = default;
};

// The user's selection of messages ("Message Selects.dat"): one selection line per entry,
// kept in file order. Lines that are not records are skipped by every query and are written
// back unchanged. Changes stay in memory until Save, which applies them to the file as it is
// then, so what another program changed meanwhile stays.
//
// Update, Remove and FindLine go through an index by key that is built on first use, so
// ticking or unticking many messages stays linear; a picker that only loads and lists never
// pays for it.
class TInstalledPopups {
public:
    // Modes of Enumerate.
    static constexpr int ModeTexts = 0;     // text and number of every entry
    static constexpr int ModeServerIds = 1; // library messages: number > 0, empty text
    static constexpr int ModeOwnIds = 2;    // own messages: number < 0, empty text

    TInstalledPopups();
    ~TInstalledPopups();
    TInstalledPopups(TInstalledPopups&&) noexcept;
    TInstalledPopups& operator=(TInstalledPopups&&) noexcept;

    // Path given to LoadFromFile; Save writes nothing while it is empty.
    std::string FileName;

    // A missing file gives an empty selection. Throws EFileError when the file exists but
    // cannot be read; the object is then unchanged.
    void LoadFromFile(const std::string& path);
    // Takes the lines as if read from a file; FileName is left as it is.
    void LoadFromLines(std::vector<std::string> lines);
    // When FileName is set and something was added, changed or removed since the load or the
    // last save: reads the file again under its lock, makes the same changes to it and
    // replaces it atomically, unless that changes nothing; the selection is then the file's.
    // Throws EFileError when the file cannot be read or written; the changes are kept.
    void Save();
    // Something was added, changed or removed since the load or the last save.
    bool Modified() const { return !Edits.empty(); }

    // The lines in file order. Linear after removals (the gaps are closed), else free.
    const std::vector<std::string>& Lines() const;
    std::size_t Count() const;

    // Adds to the target every record of that language (any when empty; exact case) whose
    // group is in the list (any when the list is empty), in file order, as the mode asks.
    // A record with a bad number stops the listing with EConvertError, whose text names the
    // line and the file: Line 3 of "<file>": 'x' is not a valid integer value.
    void Enumerate(std::string_view language, const std::vector<std::int32_t>& groups, int mode,
                   TextList& target) const;
    // Numbers of the selected library messages of a language; group 0 = every group.
    void ServerIds(std::string_view language, std::int32_t group, TextList& target) const;
    // Numbers of the selected own messages of a language; group 0 = every group.
    void OwnIds(std::string_view language, std::int32_t group, TextList& target) const;
    // Text and number of every entry of the groups, all languages; no groups = all groups.
    void Texts(const std::vector<std::int32_t>& groups, TextList& target) const;
    // The texts Texts would add, as views into the held lines (valid until the selection
    // changes): a pick needs one text of many and need not copy them all. With `unreadable`,
    // a line with a bad number is passed over and added there instead of stopping the list.
    void TextViews(const std::vector<std::int32_t>& groups, std::vector<std::string_view>& target,
                   std::vector<TUnreadableLine>* unreadable = nullptr) const;

    // Every record of that language (any when empty; exact case) and those groups (any when
    // the list is empty), whole, in file order: what a list that must tell entries of the same
    // number apart needs. Lines with a bad number go to `unreadable` when given (else the
    // listing stops as Enumerate's does).
    void Records(std::string_view language, const std::vector<std::int32_t>& groups,
                 std::vector<TInstallRecord>& target,
                 std::vector<TUnreadableLine>* unreadable = nullptr) const;

    // True only when exactly one record carries the number; language and group are then
    // those of that record (with several, those of the last one, and false).
    bool FindById(std::int32_t messageId, std::string& language, std::int32_t& group) const;

    void Add(std::string_view language, std::int32_t group, std::int32_t messageId,
             std::string_view text);
    // Replaces the first line that begins with the entry's key form; nothing when none does.
    void Update(std::string_view language, std::int32_t group, std::int32_t messageId,
                std::string_view text);
    // Deletes the first line that begins with the entry's key form; nothing when none does.
    void Remove(std::string_view language, std::int32_t group, std::int32_t messageId);
    // Position in Lines() of the first line that begins with keyForm (see InstallKeyForm).
    bool FindLine(std::string_view keyForm, std::size_t& index) const;

private:
    struct Index;
    // One change made since the load, to be made again to the file as it is at Save.
    struct TEdit {
        enum class TKind : std::uint8_t { Add, Update, Remove } Kind;
        std::string Language;
        std::int32_t Group;
        std::int32_t MessageId;
        std::string Text;
    };
    void Apply(const TEdit& edit);

    // Calls visit(record) for every live record of the language and groups, in file order.
    // A line with a bad number goes to `unreadable` when given, else stops the walk.
    template <typename Visit>
    void ForEachRecord(std::string_view language, const std::vector<std::int32_t>& groups,
                       Visit&& visit, std::vector<TUnreadableLine>* unreadable = nullptr) const;
    // The number (from 1) of the slot's line among the live lines.
    std::size_t LineNumber(std::size_t slot) const;
    Index& Indexed() const;
    // Slot in Store of the first live line that begins with keyForm, or Store.size().
    std::size_t FirstSlot(std::string_view keyForm) const;
    void Compact() const;
    bool IsDead(std::size_t slot) const;

    // Lines by slot; removed lines leave a gap until the next compaction. Gaps exist only
    // while the index does. Both change under const calls without changing what is held.
    mutable std::vector<std::string> Store;
    mutable std::unique_ptr<Index> Idx;
    std::vector<TEdit> Edits;
};

} // namespace pellora
