// Settings file speed: one key written into a preferences file of a usual size (each write
// locks the file, reads it, changes one line and replaces it, synced to disk), three keys
// written one by one and in one batch, one read, and the lock alone.

#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace pellora;

namespace {

// A preferences file with every section the program writes, in a folder of its own that is
// removed when the benchmark ends.
class PrefsFile {
public:
    PrefsFile() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-ini-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        Folder = pattern;
        Path = Folder + "/pellora Prefs.ini";
        WriteTextLines(Path, {"[Timer]",
                              "Random=1",
                              "Fixed Interval=5",
                              "Minimum Interval=15",
                              "Maximum Interval=25",
                              "",
                              "[Sound]",
                              "Sound=1",
                              "Speach=1",
                              "",
                              "[Internet]",
                              "Proxy=0",
                              "Proxy Address=",
                              "Access id=1234",
                              "Last-Modified for messages-EN=Tue, 01 Oct 2024 10:00:00 GMT",
                              "Last-Modified for messages-DE=Tue, 01 Oct 2024 10:00:00 GMT",
                              "",
                              "[Groups]",
                              "Checked Groups=/T T /",
                              "Last Own ID=17"});
    }
    ~PrefsFile() { std::filesystem::remove_all(Folder); }
    PrefsFile(const PrefsFile&) = delete;
    PrefsFile& operator=(const PrefsFile&) = delete;

    std::string Folder;
    std::string Path;
};

void BM_IniWriteOneKey(benchmark::State& state) {
    PrefsFile prefs;
    IniFile ini(prefs.Path);
    std::int32_t value = 0;
    for (auto _ : state)
        ini.WriteInteger("Groups", "Last Own ID", ++value);
}
BENCHMARK(BM_IniWriteOneKey)->Unit(benchmark::kMicrosecond);

void BM_IniWriteThreeKeysOneByOne(benchmark::State& state) {
    PrefsFile prefs;
    IniFile ini(prefs.Path);
    std::int32_t value = 0;
    for (auto _ : state) {
        ++value;
        ini.WriteInteger("Main1024x768", "Left", value);
        ini.WriteInteger("Main1024x768", "Top", value);
        ini.WriteString("Main1024x768", "Skin", "Harbrook");
    }
}
BENCHMARK(BM_IniWriteThreeKeysOneByOne)->Unit(benchmark::kMicrosecond);

void BM_IniWriteThreeKeysInOneBatch(benchmark::State& state) {
    PrefsFile prefs;
    IniFile ini(prefs.Path);
    std::int32_t value = 0;
    for (auto _ : state) {
        ++value;
        ini.Update([&](IniBatch& batch) {
            batch.WriteInteger("Main1024x768", "Left", value);
            batch.WriteInteger("Main1024x768", "Top", value);
            batch.WriteString("Main1024x768", "Skin", "Harbrook");
        });
    }
}
BENCHMARK(BM_IniWriteThreeKeysInOneBatch)->Unit(benchmark::kMicrosecond);

// Taking and giving back the lock of a settings file, without reading or writing it.
void BM_IniLockOnly(benchmark::State& state) {
    PrefsFile prefs;
    const std::string lockFile = IniFile::LockFileName(prefs.Path);
    for (auto _ : state)
        FileLock lock(lockFile);
}
BENCHMARK(BM_IniLockOnly)->Unit(benchmark::kMicrosecond);

void BM_IniReadOneKey(benchmark::State& state) {
    PrefsFile prefs;
    IniFile ini(prefs.Path);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.ReadInteger("Groups", "Last Own ID", 0));
}
BENCHMARK(BM_IniReadOneKey)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
