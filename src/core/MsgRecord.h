#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/TextList.h"

namespace pellora {

// One line of a message journal: a library file (keyed by ServerId) or an own-message file
// (keyed by OwnId). Replaying the lines in order gives the current messages.
enum class TMsgAction : std::uint8_t { New, Mod, Del };

struct TMsgRecord {
    std::string Stamp; // set by the exchange server only; lines made here leave it empty
    TMsgAction Action = TMsgAction::New;
    std::int32_t Group = 0;
    std::int32_t ServerId = 0;
    std::int32_t OwnId = 0;
    std::string Text;
    bool operator==(const TMsgRecord&) const = default;
};

// "NEW", "MOD" or "DEL".
const char* MsgActionWord(TMsgAction action);

// False (record untouched) when the line is not a record: fewer than seven "|"-separated
// fields, or a second field that is not exactly NEW, MOD or DEL once trimmed. Every field
// is trimmed of blanks and control characters and fields after the seventh are ignored.
// An empty number field is 0; any other number field that is not a 32-bit decimal integer
// throws EConvertError (record untouched).
bool ParseMsgRecord(std::string_view line, TMsgRecord& record);

// The seven-field journal line: Group always a number, ServerId and OwnId empty when 0,
// the fifth field empty. A line break inside a field would split the line in the file and
// could forge a record of its own, so CR and LF are written as blanks.
std::string FormatMsgRecord(const TMsgRecord& record);

// The line sent to the exchange server for one pending change: action word, Group,
// ServerId (empty when 0), OwnId (always a number), Text. No Stamp.
std::string FormatDeltaLine(const TMsgRecord& record);

// The message's identity within one file.
template <class Record> std::int32_t MsgKey(const Record& record, bool useServerId) {
    return useServerId ? record.ServerId : record.OwnId;
}

// Calls step(line, record) for every line that is a record of the group (group <= 0: all
// groups), in order. A bad number field ends the walk with EConvertError.
template <class Step>
void ForEachRecord(const std::vector<std::string>& lines, std::int32_t group, Step&& step) {
    TMsgRecord record;
    for (const std::string& line : lines) {
        if (!ParseMsgRecord(line, record))
            continue;
        if (group > 0 && record.Group != group)
            continue;
        step(line, record);
    }
}

// The current messages as (Text, key) in order: NEW appends, MOD replaces the text of the
// last message with that key, DEL removes it; MOD and DEL of an unknown key change nothing.
TextList ReplayJournal(const std::vector<std::string>& lines, std::int32_t group, bool useServerId);

// Start of the block of own edits not yet uploaded: walking back from the end over blank
// lines and non-records, every record without a Stamp moves the start to its line; the
// first stamped record ends the walk. False when no such record was reached.
bool FindPendingStart(const std::vector<std::string>& lines, std::size_t& start);

// Key -> position. Open addressing in one small array keeps a journal of a million lines
// from paying an allocation and a cache miss per key, as a node-based map does.
class TKeyIndex {
public:
    static constexpr std::uint32_t None = UINT32_MAX;
    // The key's value, added as None when the key is new. Values stay below None - 1.
    std::uint32_t& operator[](std::int32_t key);
    // nullptr when the key was never added.
    std::uint32_t* Find(std::int32_t key);
    // Asks the processor to fetch the key's home slot ahead of a look-up.
    void Prefetch(std::int32_t key) const;
    // The key's value without adding it; None when it is missing.
    std::uint32_t Peek(std::int32_t key) const;
    void Reserve(std::size_t keys);
    void Clear();

private:
    static constexpr std::uint32_t Unused = UINT32_MAX - 1;
    struct Slot {
        std::int32_t Key;
        std::uint32_t Value; // Unused marks a free slot
    };
    std::size_t Home(std::int32_t key) const;
    void Rehash(std::size_t capacity);

    std::vector<Slot> Slots; // a power of two, at most half full
    std::size_t Count = 0;
    unsigned Bits = 0; // log2 of the capacity
};

// Compacts journal lines: a change folds into the line it changes, an addition followed by
// its deletion vanishes, several changes of one message become one MOD. A deletion that
// finds only a change of a message saved before the lines replaces that change, and one
// that finds another deletion is kept beside it: dropping either would let a saved message
// survive. Lines are found by key through an index, so a whole block takes linear time.
class TMergeList {
public:
    explicit TMergeList(bool useServerId) : UseServerId(useServerId) {}

    // Folds one record; `line` is the record's line as stored.
    void MergeStep(std::string_view line, const TMsgRecord& record);
    std::size_t Count() const { return LiveCount; }
    // The compacted lines in order; the list is empty afterwards.
    std::vector<std::string> TakeLines();

private:
    static constexpr std::uint32_t None = TKeyIndex::None;
    struct Entry {
        std::string Line;
        TMsgAction Action;
        std::uint32_t Below; // the previous live entry with the same key, or None
        bool Live;
    };
    void Append(std::string_view line, TMsgAction action, std::int32_t key);

    bool UseServerId;
    std::vector<Entry> Entries;
    // Key -> the last live entry with that key; removed entries stay behind as tombstones
    // until TakeLines, so nothing is ever shifted.
    TKeyIndex Top;
    std::size_t LiveCount = 0;
};

// MergeStep over every record of the lines (all groups).
std::vector<std::string> MergeJournal(const std::vector<std::string>& lines, bool useServerId);

} // namespace pellora
