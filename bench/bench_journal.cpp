#include "core/MsgFile3.h"
#include "core/MsgRecord.h"
#include "platform/FileUtil.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace pellora;

namespace {

const char* const Words[] = {"look",  "at",      "your",   "hands", "are",    "you", "dreaming",
                             "now",   "breathe", "slowly", "and",   "notice", "the", "light",
                             "today", "is",      "a",      "good",  "day",    "to",  "remember"};

std::string MakeText(std::mt19937& random) {
    std::size_t length = 40 + random() % 41;
    std::string text;
    while (text.size() < length) {
        if (!text.empty())
            text += ' ';
        text += Words[random() % std::size(Words)];
    }
    text.resize(length);
    return text;
}

// Mostly additions; a fifth of the lines change or delete a message that exists.
// Library lines carry a Stamp and are keyed by ServerId; own lines have neither and are
// keyed by OwnId.
std::vector<std::string> MakeJournal(std::size_t count, bool library) {
    std::mt19937 random(static_cast<unsigned>(count) * 2654435761u);
    std::vector<std::int32_t> live;
    std::vector<std::string> lines;
    lines.reserve(count);
    std::int32_t nextId = 1;
    TMsgRecord record;
    for (std::size_t i = 0; i < count; ++i) {
        unsigned roll = random() % 10;
        record.Group = 1 + static_cast<std::int32_t>(random() % 4);
        if (roll < 8 || live.empty()) {
            record.Action = TMsgAction::New;
            live.push_back(nextId++);
            std::int32_t id = live.back();
            record.ServerId = library ? id : 0;
            record.OwnId = library ? 0 : -id;
            record.Text = MakeText(random);
        } else {
            std::size_t pick = random() % live.size();
            std::int32_t id = live[pick];
            record.ServerId = library ? id : 0;
            record.OwnId = library ? 0 : -id;
            if (roll == 8) {
                record.Action = TMsgAction::Mod;
                record.Text = MakeText(random);
            } else {
                record.Action = TMsgAction::Del;
                record.Text.clear();
                live[pick] = live.back();
                live.pop_back();
            }
        }
        record.Stamp = library ? "2026-03-14 12:00:" + std::to_string(i % 60) : "";
        lines.push_back(FormatMsgRecord(record));
    }
    return lines;
}

void ReplayInMemory(benchmark::State& state) {
    const auto lines = MakeJournal(static_cast<std::size_t>(state.range(0)), true);
    for (auto _ : state) {
        TextList messages = ReplayJournal(lines, 0, true);
        benchmark::DoNotOptimize(messages.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ReplayInMemory)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// A library collection reading its file and replaying it, as the library page does.
void LoadAndReplayFile(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "pellora-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    folder += '/';
    WriteTextLines(folder + "en/messages.cfg",
                   MakeJournal(static_cast<std::size_t>(state.range(0)), true));
    for (auto _ : state) {
        TRemotePopups library(folder, "EN", "messages");
        TextList messages = library.Messages(0, true);
        benchmark::DoNotOptimize(messages.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    std::filesystem::remove_all(folder);
}
BENCHMARK(LoadAndReplayFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Compaction of a large block of unsaved own edits, as Flush does it.
void CompactPendingBlock(benchmark::State& state) {
    TOwnPopups own("", "", "custom");
    own.Pending = MakeJournal(static_cast<std::size_t>(state.range(0)), false);
    std::vector<std::string> compacted;
    for (auto _ : state) {
        std::size_t count = own.CompactPending(compacted);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CompactPendingBlock)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Looking for the block to upload at the end of a large own file with a long pending tail.
void FindUploadBlock(benchmark::State& state) {
    TOwnPopups own("", "", "custom");
    own.Lines = MakeJournal(static_cast<std::size_t>(state.range(0)), false);
    for (auto _ : state) {
        std::size_t start = 0;
        benchmark::DoNotOptimize(own.FindUploadStart(start));
        benchmark::DoNotOptimize(start);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FindUploadBlock)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
