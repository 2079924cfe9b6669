// Selection speed: ticking and unticking many messages in the messages dialog, and one
// reminder's pick over a large selection file.

#include "core/InstallRecord.h"
#include "core/InstalledPopups.h"
#include "core/MsgRandom.h"
#include "platform/FileUtil.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace pellora;

namespace {

constexpr int Batch = 10000;

// Library and own messages of two languages spread over the four groups, in a typical
// line length.
std::vector<std::string> MakeLines(int count) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        std::int32_t id = i % 5 == 0 ? -i : i;
        lines.push_back(
            FormatInstallRecord(i % 3 ? "EN" : "DE", i % 4 + 1, id,
                                "Is this a dream? Look around, message " + std::to_string(i)));
    }
    return lines;
}

struct Entry {
    std::string Language;
    std::int32_t Group, Id;
};

std::vector<Entry> Entries(const std::vector<std::string>& lines, bool shuffled) {
    std::vector<Entry> entries;
    for (const auto& line : lines) {
        TInstallRecord record;
        ParseInstallRecord(line, record);
        entries.push_back({record.Language, record.Group, record.MessageId});
    }
    if (shuffled)
        std::shuffle(entries.begin(), entries.end(), std::mt19937(42));
    return entries;
}

// A selection file in a folder of its own, removed when the program ends.
class SelectsFile {
public:
    explicit SelectsFile(int lines) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-sel-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        Folder = pattern;
        Path = Folder + "/Message Selects.dat";
        WriteTextLines(Path, MakeLines(lines));
    }
    ~SelectsFile() { std::filesystem::remove_all(Folder); }
    std::string Folder, Path;
};

const SelectsFile& Large() {
    static SelectsFile file(100000);
    return file;
}

// Ticking 10,000 more messages into a selection of 10,000.
void BM_TickTenThousand(benchmark::State& state) {
    const auto base = MakeLines(Batch);
    const bool checkFirst = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        TInstalledPopups popups;
        popups.LoadFromLines(base);
        state.ResumeTiming();
        for (int i = 0; i < Batch; ++i) {
            std::size_t index = 0;
            if (checkFirst && popups.FindLine(InstallKeyForm("NL", 2, 50000 + i), index))
                continue;
            popups.Add("NL", 2, 50000 + i, "A newly ticked message");
        }
        benchmark::DoNotOptimize(popups.Count());
    }
}
BENCHMARK(BM_TickTenThousand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Unticking every message of a selection (10,000 lines; 40,000 and 160,000 to show the
// growth is linear) in random order.
void BM_UntickAll(benchmark::State& state) {
    const auto base = MakeLines(static_cast<int>(state.range(0)));
    const auto entries = Entries(base, true);
    for (auto _ : state) {
        state.PauseTiming();
        TInstalledPopups popups;
        popups.LoadFromLines(base);
        state.ResumeTiming();
        for (const auto& entry : entries)
            popups.Remove(entry.Language, entry.Group, entry.Id);
        if (popups.Count() != 0)
            state.SkipWithError("entries left");
        benchmark::DoNotOptimize(popups.Lines().size());
    }
}
BENCHMARK(BM_UntickAll)->Arg(Batch)->Arg(4 * Batch)->Arg(16 * Batch)->Unit(benchmark::kMillisecond);

// One click of the Remove button in a selection of 10,000: look the number up, remove it.
void BM_RemoveButton(benchmark::State& state) {
    const auto base = MakeLines(Batch);
    const auto entries = Entries(base, true);
    std::size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TInstalledPopups popups;
        popups.LoadFromLines(base);
        const auto& entry = entries[next++ % entries.size()];
        state.ResumeTiming();
        std::string language;
        std::int32_t group = 0;
        if (popups.FindById(entry.Id, language, group))
            popups.Remove(language, group, entry.Id);
        benchmark::DoNotOptimize(popups.Count());
    }
}
BENCHMARK(BM_RemoveButton)->Unit(benchmark::kMicrosecond);

// Unticking half of the messages, then saving: the gaps are closed for Save.
void BM_UntickHalfAndSave(benchmark::State& state) {
    const auto base = MakeLines(Batch);
    const auto entries = Entries(base, true);
    const SelectsFile file(0);
    for (auto _ : state) {
        state.PauseTiming();
        TInstalledPopups popups;
        popups.LoadFromLines(base);
        popups.FileName = file.Path;
        state.ResumeTiming();
        for (std::size_t i = 0; i < entries.size(); i += 2)
            popups.Remove(entries[i].Language, entries[i].Group, entries[i].Id);
        popups.Save();
    }
}
BENCHMARK(BM_UntickHalfAndSave)->Unit(benchmark::kMillisecond);

void BM_EditTenThousand(benchmark::State& state) {
    const auto base = MakeLines(Batch);
    const auto entries = Entries(base, true);
    for (auto _ : state) {
        state.PauseTiming();
        TInstalledPopups popups;
        popups.LoadFromLines(base);
        state.ResumeTiming();
        for (const auto& entry : entries)
            popups.Update(entry.Language, entry.Group, entry.Id, "Edited text");
        benchmark::DoNotOptimize(popups.Count());
    }
}
BENCHMARK(BM_EditTenThousand)->Unit(benchmark::kMillisecond);

// One reminder over 100,000 entries: load, list the checked groups, draw.
void BM_PickFrom100k(benchmark::State& state) {
    const std::string& path = Large().Path;
    std::vector<std::int32_t> groups;
    if (state.range(0) != 0)
        groups = {1, 3};
    std::string text;
    for (auto _ : state) {
        bool picked = PickMessage(path, groups, text);
        benchmark::DoNotOptimize(picked);
    }
}
BENCHMARK(BM_PickFrom100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The parts of a pick, apart.
void BM_Load100k(benchmark::State& state) {
    for (auto _ : state) {
        TInstalledPopups popups;
        popups.LoadFromFile(Large().Path);
        benchmark::DoNotOptimize(popups.Count());
    }
}
BENCHMARK(BM_Load100k)->Unit(benchmark::kMillisecond);

void BM_Texts100k(benchmark::State& state) {
    TInstalledPopups popups;
    popups.LoadFromFile(Large().Path);
    for (auto _ : state) {
        TextList list;
        popups.Texts({}, list);
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(BM_Texts100k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
