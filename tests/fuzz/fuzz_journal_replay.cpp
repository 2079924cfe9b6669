#include "core/MsgFile3.h"
#include "core/MsgRecord.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace pellora;

namespace {

using Lines = std::vector<std::string>;

// Inputs beyond this are skipped; the plain-rule comparisons below are quadratic.
constexpr std::size_t MaxInput = 1 << 16;
constexpr std::size_t MaxCompared = 3000;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

TextList ReferenceReplay(const Lines& lines, std::int32_t group, bool useServerId) {
    TextList list;
    TMsgRecord r;
    for (const auto& line : lines) {
        if (!ParseMsgRecord(line, r) || (group > 0 && r.Group != group))
            continue;
        std::int32_t key = MsgKey(r, useServerId);
        auto last = std::find_if(list.rbegin(), list.rend(),
                                 [&](const TextItem& item) { return item.Id == key; });
        if (r.Action == TMsgAction::New)
            list.push_back({r.Text, key});
        else if (last != list.rend() && r.Action == TMsgAction::Mod)
            last->Text = r.Text;
        else if (last != list.rend())
            list.erase(std::next(last).base());
    }
    return list;
}

Lines ReferenceMerge(const Lines& lines, bool useServerId) {
    std::vector<std::pair<std::string, std::int32_t>> list;
    TMsgRecord r, old;
    for (const auto& line : lines) {
        if (!ParseMsgRecord(line, r))
            continue;
        std::int32_t key = MsgKey(r, useServerId);
        auto last = std::find_if(list.rbegin(), list.rend(),
                                 [&](const auto& e) { return e.second == key; });
        if (r.Action == TMsgAction::New || last == list.rend()) {
            list.emplace_back(line, key);
            continue;
        }
        Check(ParseMsgRecord(last->first, old));
        if (r.Action == TMsgAction::Mod) {
            old.Text = r.Text;
            last->first = FormatMsgRecord(old);
            continue;
        }
        if (old.Action != TMsgAction::Del)
            list.erase(std::next(last).base());
        if (old.Action != TMsgAction::New)
            list.emplace_back(line, key);
    }
    Lines result;
    for (auto& e : list)
        result.push_back(e.first);
    return result;
}

void Exercise(const Lines& lines, std::int32_t group, std::uint8_t choice) {
    std::size_t records = 0;
    TMsgRecord record;
    for (const auto& line : lines)
        records += ParseMsgRecord(line, record) ? 1 : 0;
    const bool compare = lines.size() <= MaxCompared;

    for (bool byServer : {false, true}) {
        TextList replay = ReplayJournal(lines, group, byServer);
        TextList all = ReplayJournal(lines, 0, byServer);
        Lines merged = MergeJournal(lines, byServer);
        Check(merged.size() <= records);
        for (const auto& line : merged)
            Check(ParseMsgRecord(line, record));
        // Compacting is stable and changes nothing a reader of the whole file sees.
        Check(MergeJournal(merged, byServer) == merged);
        Check(ReplayJournal(merged, 0, byServer) == all);
        if (compare) {
            Check(replay == ReferenceReplay(lines, group, byServer));
            Check(merged == ReferenceMerge(lines, byServer));
        }
    }

    std::size_t start = 0;
    if (FindPendingStart(lines, start)) {
        Check(start < lines.size());
        Check(ParseMsgRecord(lines[start], record));
        Check(record.Stamp.empty());
    }

    // The own-message collection over the same lines, without a file behind it.
    TOwnPopups own("", "", "custom");
    own.Lines = lines;
    Lines compacted, deltas;
    bool any = own.CopyUploadsTo(start, compacted);
    Check(any == !compacted.empty());
    TBaseOwnPopups::FormatUploads(compacted, deltas);
    Check(deltas.size() == compacted.size());
    std::int32_t ownId = -static_cast<std::int32_t>(choice % 8);
    own.AddMessage(choice % 5, ownId - 1, "added");
    own.ModifyMessage(1, ownId, "changed");
    own.DeleteMessage(2, ownId - 1);
    own.DeleteMessage(2, ownId);
    own.Flush();
    Check(!own.HasPendingEdits());
    Check(own.FileName().empty());
    own.Messages(0, false);
}

} // namespace

// Arbitrary file contents: the first byte picks the group and the ids edited, the rest
// is the file. A conversion error is the expected end of reading a bad number field;
// any other exception, a crash or a sanitizer report is a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > MaxInput)
        return 0;
    const std::uint8_t choice = data[0];
    const std::int32_t group = choice % 6 - 1;
    Lines lines =
        SplitTextLines(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    try {
        Exercise(lines, group, choice);
    } catch (const EConvertError&) {
    }
    // Again without the lines that cannot be read, so the rest is explored too.
    Lines readable;
    TMsgRecord record;
    for (auto& line : lines) {
        try {
            ParseMsgRecord(line, record);
            readable.push_back(std::move(line));
        } catch (const EConvertError&) {
        }
    }
    Exercise(readable, group, choice);
    return 0;
}
