// Downloading a large library end to end (goal: under 300 ms for 50,000 lines): the exchange's
// CGI programs under lighttpd on 127.0.0.1 answer the request, and the lines are stored in the
// library file as pellora-cli and the library page store them. The stored Last-Modified is
// cleared before each download, so the whole library comes every time.
#include "CliExchange.h"
#include "ExchangeStore.h"
#include "core/Settings.h"
#include "net/PellNet.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/Lighttpd.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <exception>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellora::test {

namespace {
// Removes the benchmark's temporary root when the program ends, after everything below it.
struct TRoot {
    TRoot() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellora-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Path = pattern + "/";
    }
    ~TRoot() { RemoveTree(Path); }
    std::string Path;
};
} // namespace

// The test helpers put their folders here.
const std::string& TestRoot() {
    static TRoot root;
    return root.Path;
}

} // namespace pellora::test

using namespace pellora;

namespace {

constexpr int LibraryLines = 50000;

const char* const Words[] = {"look",  "at",      "your",   "hands", "are",    "you", "dreaming",
                             "now",   "breathe", "slowly", "and",   "notice", "the", "light",
                             "today", "is",      "a",      "good",  "day",    "to",  "remember"};

std::vector<std::string> MakeLibrary() {
    std::mt19937 random(20260105u);
    std::vector<std::string> lines;
    lines.reserve(LibraryLines);
    for (int id = 1; id <= LibraryLines; ++id) {
        std::string text;
        std::size_t length = 40 + random() % 41;
        while (text.size() < length)
            text += std::string(text.empty() ? "" : " ") + Words[random() % std::size(Words)];
        text.resize(length);
        lines.push_back(Format("|NEW|%d|%d|||", 1 + static_cast<int>(random() % 4), id) + text);
    }
    return lines;
}

// The seeded exchange and a data folder whose preferences point at it; started once, stopped
// when the program ends.
struct TExchange {
    TExchange() {
        {
            TSqliteStore store(Work / "exchange.db", TSqliteStore::TOpenMode::Create);
            store.Import("EN", MakeLibrary());
            // An id of its own up front, so no iteration pays for the access request.
            IniFile prefs(PrefsFile);
            WriteKey(prefs, keys::AccessId,
                     static_cast<std::int32_t>(store.RequestAccess("127.0.0.1", true)));
        }
        test::PutFile(Work / "doc/index.html", "exchange");
        test::LighttpdOptions options;
        options.DocumentRoot = Work / "doc";
        options.CgiPrefix = "/cgi-bin/pellora/";
        options.CgiFolder = std::string(PELLORA_BUILD_DIR) + "/server/cgi-bin/pellora";
        options.CgiEnvironment["PELLORA_EXCHANGE_DB"] = Work / "exchange.db";
        Server = std::make_unique<test::Lighttpd>(options);
        IniFile prefs(PrefsFile);
        WriteKey(prefs, keys::PelloraExchange, Server->Url("cgi-bin/pellora/"));
    }

    test::TempDir Work;
    std::string PrefsFile = Work / "data/pellora Prefs.ini";
    std::string Local = Work / "data/Local/";
    std::string Logs = Work / "data/";
    std::unique_ptr<test::Lighttpd> Server;
};

// Null with the reason in `failure` when the exchange cannot be started.
TExchange* Exchange(std::string& failure) {
    static std::string reason;
    static std::unique_ptr<TExchange> exchange = []() -> std::unique_ptr<TExchange> {
        try {
            return std::make_unique<TExchange>();
        } catch (const std::exception& e) {
            reason = e.what();
            return nullptr;
        }
    }();
    failure = reason;
    return exchange.get();
}

void DownloadWholeLibrary(benchmark::State& state) {
    std::string failure;
    TExchange* exchange = Exchange(failure);
    if (exchange == nullptr) {
        state.SkipWithError(failure.c_str());
        return;
    }
    IniFile prefs(exchange->PrefsFile);
    TNetModule net(exchange->PrefsFile, exchange->Logs);
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        keys::WriteLastModified(prefs, "EN", "");
        state.ResumeTiming();
        TLibDownloadResult result = DownloadLibrary(net, exchange->Local, "EN");
        if (result.Outcome != TLibDownloadOutcome::Stored || result.LineCount != LibraryLines) {
            state.SkipWithError("the whole library did not come");
            break;
        }
        state.PauseTiming();
        bytes = ReadFileBytes(result.FileName).size();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * LibraryLines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
// Most of the work happens in the server's processes: wall time is what counts.
BENCHMARK(DownloadWholeLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
