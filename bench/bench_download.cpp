// Downloading a large library end to end (goal: under 300 ms for 50,000 lines): the exchange's
// CGI programs under lighttpd on 127.0.0.1 answer the request, and the lines are stored in the
// library file by the exchange workflow pellora-cli and the program share. The stored
// Last-Modified is cleared before each download, so the whole library comes every time.
// Also: how long a Cancel takes to end an exchange that waits on a silent server.
#include "ExchangeStore.h"
#include "core/Settings.h"
#include "net/ExchangeWorker.h"
#include "net/MsgExchange.h"
#include "net/PellNet.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/ExchangeServer.h"
#include "support/NetPeers.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

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
        Server = std::make_unique<test::ExchangeServer>(Work / "exchange.db");
        IniFile prefs(PrefsFile);
        WriteKey(prefs, keys::PelloraExchange, Server->Base());
    }

    test::TempDir Work;
    std::string PrefsFile = Work / "data/pellora Prefs.ini";
    std::string Local = Work / "data/Local/";
    std::string Logs = Work / "data/";
    std::unique_ptr<test::ExchangeServer> Server;
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
        const TExchangeResult result = DownloadLibrary(net, exchange->Local, "EN");
        if (result.Outcome != TExchangeOutcome::Downloaded || result.LineCount != LibraryLines) {
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

// From Cancel to the outcome of an exchange whose request waits on a server that never
// answers: what the user waits after pressing Cancel.
void CancelStalledExchange(benchmark::State& state) {
    test::TempDir work;
    test::SilentListener silent;
    {
        IniFile prefs(work / "pellora Prefs.ini");
        WriteKey(prefs, keys::AccessId, 5);
        WriteKey(prefs, keys::PelloraExchange, silent.Url());
    }
    TExchangeWorker worker(work / "pellora Prefs.ini", work.Path(), work / "Local/");
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    bool connected = false;
    TExchangeOutcome outcome = TExchangeOutcome::Error;
    worker.OnFinished = [&](const TExchangeResult& result) {
        const std::lock_guard<std::mutex> guard(lock);
        finished = true;
        outcome = result.Outcome;
        changed.notify_all();
    };
    for (auto _ : state) {
        state.PauseTiming();
        finished = false;
        if (!worker.Start(TExchangeKind::Download, "EN")) {
            state.SkipWithError("the worker is busy");
            break;
        }
        // The request is out once the listener holds a new connection.
        connected = silent.WaitForConnection();
        state.ResumeTiming();
        worker.Cancel();
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return finished; });
        if (!connected || outcome != TExchangeOutcome::Cancelled) {
            state.SkipWithError("the exchange did not end as cancelled");
            break;
        }
        state.PauseTiming();
        silent.DropConnections();
        state.ResumeTiming();
    }
}
BENCHMARK(CancelStalledExchange)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
