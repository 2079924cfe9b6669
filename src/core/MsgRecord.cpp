#include "core/MsgRecord.h"

#include "platform/StrUtils.h"

#include <stdexcept>

namespace pellora {

namespace {

constexpr std::uint32_t NoEntry = TKeyIndex::None;
// Positions are kept in 32 bits to halve the index; no journal that fits in memory
// comes near this.
constexpr std::size_t MaxEntries = UINT32_MAX - 2;

bool ParseAction(std::string_view word, TMsgAction& action) {
    if (word == "NEW")
        action = TMsgAction::New;
    else if (word == "MOD")
        action = TMsgAction::Mod;
    else if (word == "DEL")
        action = TMsgAction::Del;
    else
        return false;
    return true;
}

// A record whose texts still point into its line, so a replay copies only the texts
// that survive it.
struct TRecordView {
    std::string_view Stamp;
    TMsgAction Action = TMsgAction::New;
    std::int32_t Group = 0;
    std::int32_t ServerId = 0;
    std::int32_t OwnId = 0;
    std::string_view Text;
};

bool ParseRecordView(std::string_view line, TRecordView& view) {
    std::string_view fields[7];
    std::size_t start = 0, pos = 0;
    // The first six fields are short: a plain loop beats a library search per field.
    for (int i = 0; i < 6; ++i) {
        while (pos < line.size() && line[pos] != '|')
            ++pos;
        if (pos == line.size())
            return false;
        fields[i] = line.substr(start, pos - start);
        start = ++pos;
    }
    std::size_t end = line.find('|', start);
    fields[6] = line.substr(start, end == std::string_view::npos ? end : end - start);

    TMsgAction action;
    if (!ParseAction(TrimView(fields[1]), action))
        return false;
    std::int32_t group = NumberField(TrimView(fields[2]));
    std::int32_t serverId = NumberField(TrimView(fields[3]));
    std::int32_t ownId = NumberField(TrimView(fields[5]));
    view = {TrimView(fields[0]), action, group, serverId, ownId, TrimView(fields[6])};
    return true;
}

} // namespace

const char* MsgActionWord(TMsgAction action) {
    switch (action) {
    case TMsgAction::Mod:
        return "MOD";
    case TMsgAction::Del:
        return "DEL";
    case TMsgAction::New:
        break;
    }
    return "NEW";
}

bool ParseMsgRecord(std::string_view line, TMsgRecord& record) {
    TRecordView view;
    if (!ParseRecordView(line, view))
        return false;
    record.Stamp.assign(view.Stamp);
    record.Action = view.Action;
    record.Group = view.Group;
    record.ServerId = view.ServerId;
    record.OwnId = view.OwnId;
    record.Text.assign(view.Text);
    return true;
}

std::string FormatMsgRecord(const TMsgRecord& record) {
    std::string line;
    line.reserve(record.Stamp.size() + record.Text.size() + 40);
    AppendOneLine(line, record.Stamp);
    line += '|';
    line += MsgActionWord(record.Action);
    line += '|';
    AppendInt(line, record.Group);
    line += '|';
    if (record.ServerId != 0)
        AppendInt(line, record.ServerId);
    line += "||";
    if (record.OwnId != 0)
        AppendInt(line, record.OwnId);
    line += '|';
    AppendOneLine(line, record.Text);
    return line;
}

std::string FormatDeltaLine(const TMsgRecord& record) {
    std::string line;
    line.reserve(record.Text.size() + 40);
    line += MsgActionWord(record.Action);
    line += '|';
    AppendInt(line, record.Group);
    line += '|';
    if (record.ServerId != 0)
        AppendInt(line, record.ServerId);
    line += '|';
    AppendInt(line, record.OwnId);
    line += '|';
    AppendOneLine(line, record.Text);
    return line;
}

std::size_t TKeyIndex::Home(std::int32_t key) const {
    // Ids are mostly consecutive: their low bits pick neighbouring slots, which keeps the
    // walk through a large journal cache-friendly; the high bits are mixed in so that ids
    // far apart do not pile up on the same slots.
    const auto bits = static_cast<std::uint32_t>(key);
    std::uint32_t high = Bits < 32 ? bits >> Bits : 0;
    std::uint32_t mixed = static_cast<std::uint32_t>((high * 0x9E3779B97F4A7C15ull) >> 32);
    return (bits ^ mixed) & (Slots.size() - 1);
}

void TKeyIndex::Rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(Slots);
    Slots.assign(capacity, Slot{0, Unused});
    Bits = 0;
    while ((std::size_t{1} << Bits) < capacity)
        ++Bits;
    const std::size_t mask = capacity - 1;
    for (const Slot& slot : old)
        if (slot.Value != Unused) {
            std::size_t i = Home(slot.Key);
            while (Slots[i].Value != Unused)
                i = (i + 1) & mask;
            Slots[i] = slot;
        }
}

void TKeyIndex::Reserve(std::size_t keys) {
    std::size_t capacity = 16;
    while (capacity < keys * 2)
        capacity *= 2;
    if (capacity > Slots.size())
        Rehash(capacity);
}

std::uint32_t& TKeyIndex::operator[](std::int32_t key) {
    if ((Count + 1) * 2 > Slots.size())
        Rehash(Slots.empty() ? 16 : Slots.size() * 2);
    const std::size_t mask = Slots.size() - 1;
    std::size_t i = Home(key);
    while (Slots[i].Value != Unused) {
        if (Slots[i].Key == key)
            return Slots[i].Value;
        i = (i + 1) & mask;
    }
    Slots[i] = Slot{key, None};
    ++Count;
    return Slots[i].Value;
}

std::uint32_t* TKeyIndex::Find(std::int32_t key) {
    if (Slots.empty())
        return nullptr;
    const std::size_t mask = Slots.size() - 1;
    for (std::size_t i = Home(key); Slots[i].Value != Unused; i = (i + 1) & mask)
        if (Slots[i].Key == key)
            return &Slots[i].Value;
    return nullptr;
}

void TKeyIndex::Prefetch(std::int32_t key) const {
    if (!Slots.empty())
        __builtin_prefetch(&Slots[Home(key)]);
}

std::uint32_t TKeyIndex::Peek(std::int32_t key) const {
    if (Slots.empty())
        return None;
    const std::size_t mask = Slots.size() - 1;
    for (std::size_t i = Home(key); Slots[i].Value != Unused; i = (i + 1) & mask)
        if (Slots[i].Key == key)
            return Slots[i].Value;
    return None;
}

void TKeyIndex::Clear() {
    Slots.clear();
    Count = 0;
    Bits = 0;
}

namespace {

// One record of a replay: first the step as read, then, in the same array, an entry.
struct ReplayItem {
    std::string_view Text;
    std::int32_t Key;
    std::uint32_t Link; // the action while a step; Below once an entry
};

constexpr std::uint32_t Deleted = NoEntry - 1;

// The records of the group, read in one sequential sweep.
std::vector<ReplayItem> ReplaySteps(const std::vector<std::string>& lines, std::int32_t group,
                                    bool useServerId) {
    std::vector<ReplayItem> items;
    items.reserve(lines.size());
    TRecordView record;
    for (const std::string& line : lines)
        if (ParseRecordView(line, record) && (group <= 0 || record.Group == group))
            items.push_back({record.Text, MsgKey(record, useServerId),
                             static_cast<std::uint32_t>(record.Action)});
    return items;
}

// The entries not deleted, in order, their texts copied.
TextList ReplaySurvivors(const std::vector<ReplayItem>& items, std::size_t entries,
                         std::size_t deleted, std::size_t ahead) {
    TextList result;
    result.reserve(entries - deleted);
    // The texts were last read in the first sweep; on a large journal they are out of the
    // cache by now.
    for (std::size_t i = 0; i < entries; ++i) {
        if (i + ahead < entries)
            __builtin_prefetch(items[i + ahead].Text.data());
        if (items[i].Link != Deleted)
            result.push_back({std::string(items[i].Text), items[i].Key});
    }
    return result;
}

} // namespace

TextList ReplayJournal(const std::vector<std::string>& lines, std::int32_t group,
                       bool useServerId) {
    // The entries of one key form a stack through their links: MOD and DEL only ever touch
    // the top, so each line costs one index look-up. Texts stay views into the lines until
    // the end, when only the survivors are copied, in order; deleted entries are skipped.
    if (lines.size() > MaxEntries)
        throw std::length_error("journal too long");

    // The message list is built in the array of the steps: an entry never lies ahead of the
    // step that made it.
    std::vector<ReplayItem> items = ReplaySteps(lines, group, useServerId);
    const std::size_t count = items.size();
    std::size_t entries = 0, deleted = 0;
    TKeyIndex top;
    top.Reserve(count);
    auto isNew = [&](std::size_t i) {
        return items[i].Link == static_cast<std::uint32_t>(TMsgAction::New);
    };
    // Changes and deletions hit random places of a large journal; fetching their index
    // slot, then their entry, a few steps ahead hides most of the memory latency.
    constexpr std::size_t SlotAhead = 16, EntryAhead = 8;
    for (std::size_t i = 0; i < count; ++i) {
        if (i + SlotAhead < count && !isNew(i + SlotAhead))
            top.Prefetch(items[i + SlotAhead].Key);
        if (i + EntryAhead < count && !isNew(i + EntryAhead)) {
            std::uint32_t ahead = top.Peek(items[i + EntryAhead].Key);
            if (ahead < entries)
                __builtin_prefetch(&items[ahead]);
        }

        const ReplayItem step = items[i];
        const auto action = static_cast<TMsgAction>(step.Link);
        if (action == TMsgAction::New) {
            std::uint32_t& last = top[step.Key];
            items[entries] = {step.Text, step.Key, last};
            last = static_cast<std::uint32_t>(entries++);
            continue;
        }
        std::uint32_t* last = top.Find(step.Key);
        if (last == nullptr || *last == NoEntry)
            continue;
        ReplayItem& entry = items[*last];
        if (action == TMsgAction::Mod) {
            entry.Text = step.Text;
        } else {
            *last = entry.Link;
            entry.Link = Deleted;
            ++deleted;
        }
    }
    return ReplaySurvivors(items, entries, deleted, EntryAhead);
}

bool FindPendingStart(const std::vector<std::string>& lines, std::size_t& start) {
    bool found = false;
    TRecordView record;
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (!ParseRecordView(lines[i], record))
            continue;
        // Only the server stamps lines, so an empty Stamp marks a line not yet sent; a change
        // of an uploaded message carries its ServerId and still has to go out.
        if (!record.Stamp.empty())
            break;
        start = i;
        found = true;
    }
    return found;
}

void TMergeList::Append(std::string_view line, TMsgAction action, std::int32_t key) {
    if (Entries.size() >= MaxEntries)
        throw std::length_error("journal too long");
    std::uint32_t& last = Top[key];
    Entries.push_back({std::string(line), action, last, true});
    last = static_cast<std::uint32_t>(Entries.size() - 1);
    ++LiveCount;
}

void TMergeList::MergeStep(std::string_view line, const TMsgRecord& record) {
    std::int32_t key = MsgKey(record, UseServerId);
    std::uint32_t* last = record.Action == TMsgAction::New ? nullptr : Top.Find(key);
    if (last == nullptr || *last == None) {
        Append(line, record.Action, key);
        return;
    }
    const std::uint32_t found = *last;

    Entry& entry = Entries[found];
    if (record.Action == TMsgAction::Mod) {
        // The entry keeps everything of its own but takes the new text.
        TMsgRecord changed;
        if (!ParseMsgRecord(entry.Line, changed)) {
            changed = record;
            changed.Action = entry.Action;
        }
        changed.Text = record.Text;
        entry.Line = FormatMsgRecord(changed);
        return;
    }

    // A deletion cancelling an addition leaves nothing. One cancelling a change of a saved
    // message must still reach the file, or the saved message would come back; one after
    // another deletion removes the next older message and stays as well.
    if (entry.Action == TMsgAction::Del) {
        Append(line, TMsgAction::Del, key);
        return;
    }
    entry.Live = false;
    *last = entry.Below;
    --LiveCount;
    if (entry.Action == TMsgAction::Mod)
        Append(line, TMsgAction::Del, key);
}

std::vector<std::string> TMergeList::TakeLines() {
    std::vector<std::string> lines;
    lines.reserve(LiveCount);
    for (Entry& entry : Entries)
        if (entry.Live)
            lines.push_back(std::move(entry.Line));
    Entries.clear();
    Top.Clear();
    LiveCount = 0;
    return lines;
}

std::vector<std::string> MergeJournal(const std::vector<std::string>& lines, bool useServerId) {
    TMergeList list(useServerId);
    ForEachRecord(lines, 0, [&](const std::string& line, const TMsgRecord& record) {
        list.MergeStep(line, record);
    });
    return list.TakeLines();
}

} // namespace pellora
