#include "net/ExchangeWorker.h"
#include "ExchangeStore.h"
#include "core/Settings.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "support/ExchangeServer.h"
#include "support/NetPeers.h"
#include "support/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::TempDir;
using Question = TExchangeWorker::TCredentialsQuestion;

// What a worker reported, and the thread that reported it; the test thread waits on it.
class Reports {
public:
    explicit Reports(TExchangeWorker& worker) {
        worker.OnProgress = [this](std::uint64_t bytes) {
            const std::lock_guard<std::mutex> lock(Lock);
            Progress.push_back(bytes);
            Threads.push_back(std::this_thread::get_id());
        };
        worker.OnFinished = [this](const TExchangeResult& result) {
            const std::lock_guard<std::mutex> lock(Lock);
            Result = result;
            Threads.push_back(std::this_thread::get_id());
            Changed.notify_all();
        };
        worker.OnNeedCredentials = [this](const Question& question,
                                          TExchangeWorker::TCredentialsAnswer answer) {
            const std::lock_guard<std::mutex> lock(Lock);
            Questions.push_back(question);
            Answers.push_back(std::move(answer));
            Changed.notify_all();
        };
    }

    // The bound only catches a hang.
    bool WaitFor(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(30), done);
    }
    TExchangeResult Finished() {
        EXPECT_TRUE(WaitFor([this] { return Result.has_value(); }));
        const std::lock_guard<std::mutex> lock(Lock);
        TExchangeResult result = Result.value_or(TExchangeResult());
        Result.reset();
        return result;
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::uint64_t> Progress;
    std::vector<std::thread::id> Threads;
    std::optional<TExchangeResult> Result;
    std::vector<Question> Questions;
    std::vector<TExchangeWorker::TCredentialsAnswer> Answers;
};

class ExchangeWorkerTest : public ::testing::Test {
protected:
    IniFile Prefs() { return IniFile(Dir / "data/prefs.ini"); }
    std::string Library() { return Dir / "data/Local/en/messages.cfg"; }
    void SetBase(const std::string& base) {
        IniFile prefs = Prefs();
        WriteKey(prefs, keys::PelloraExchange, base);
    }
    // The shipped English library on a real exchange server.
    std::unique_ptr<test::ExchangeServer>
    Exchange(const test::ExchangeServerOptions& options = {}) {
        {
            TSqliteStore store(Dir / "exchange.db", TSqliteStore::TOpenMode::Create);
            store.Import("EN", ReadTextLines(std::string(PELLORA_SOURCE_DIR) +
                                             "/share/pellora/Local/EN/Messages.cfg"));
        }
        return std::make_unique<test::ExchangeServer>(Dir / "exchange.db", options);
    }

    TempDir Dir;
    TExchangeWorker Worker{Dir / "data/prefs.ini", Dir / "data/", Dir / "data/Local/"};
    Reports Seen{Worker};
};

TEST_F(ExchangeWorkerTest, ADownloadRunsOnTheWorkerAndReportsProgressAndItsOutcome) {
    auto server = Exchange();
    SetBase(server->Base());
    ASSERT_TRUE(Worker.Start(TExchangeKind::Download, "EN"));
    // One at a time.
    EXPECT_FALSE(Worker.Start(TExchangeKind::Upload, "EN"));
    const TExchangeResult result = Seen.Finished();
    EXPECT_EQ(result.Outcome, TExchangeOutcome::Downloaded) << result.Text;
    EXPECT_EQ(result.Text, DownloadedText);
    EXPECT_EQ(result.FileName, Library());
    EXPECT_EQ(ReadTextLines(Library()).size(), result.LineCount);
    EXPECT_FALSE(Worker.Busy());

    const std::lock_guard<std::mutex> lock(Seen.Lock);
    ASSERT_FALSE(Seen.Progress.empty());
    EXPECT_GT(Seen.Progress.back(), GetFile(Library()).size() / 2);
    for (std::size_t i = 1; i < Seen.Progress.size(); ++i)
        EXPECT_GE(Seen.Progress[i], Seen.Progress[i - 1]);
    for (std::thread::id id : Seen.Threads)
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(ExchangeWorkerTest, CancelEndsAStalledDownloadAndNothingIsStored) {
    test::SilentListener silent;
    SetBase(silent.Url());
    {
        IniFile prefs = Prefs();
        WriteKey(prefs, keys::AccessId, 5);
        keys::WriteLastModified(prefs, "EN", "Sat, 05 Dec 2026 10:00:00 GMT");
    }
    PutFile(Library(), "|NEW|1|7|||kept\r\n");
    ASSERT_TRUE(Worker.Start(TExchangeKind::Download, "EN"));
    ASSERT_TRUE(silent.WaitForConnection());
    EXPECT_TRUE(Worker.Busy());
    Worker.Cancel();
    const TExchangeResult result = Seen.Finished();
    EXPECT_EQ(result.Outcome, TExchangeOutcome::Cancelled);
    EXPECT_EQ(result.Text, "The operation has been canceled (" + silent.Url() +
                               "retrieve.cgi?file=messages&langcode=en)");
    EXPECT_EQ(GetFile(Library()), "|NEW|1|7|||kept\r\n");
    EXPECT_EQ(keys::ReadLastModified(Prefs(), "EN"), "Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_FALSE(FileExists(Dir / "data/Download Messages.log"));

    // The cancel belonged to that exchange: the next one runs until cancelled in turn.
    silent.DropConnections();
    ASSERT_TRUE(Worker.Start(TExchangeKind::Download, "EN"));
    ASSERT_TRUE(silent.WaitForConnection());
    EXPECT_TRUE(Worker.Busy());
    Worker.Cancel();
    EXPECT_EQ(Seen.Finished().Outcome, TExchangeOutcome::Cancelled);
}

TEST_F(ExchangeWorkerTest, ARequestForCredentialsWaitsForTheAnswerFromAnotherThread) {
    test::ExchangeServerOptions locked;
    locked.AuthUsers = {{"ann", "pw1"}};
    auto server = Exchange(locked);
    SetBase(server->Base());
    ASSERT_TRUE(Worker.Start(TExchangeKind::Download, "EN"));
    ASSERT_TRUE(Seen.WaitFor([&] { return !Seen.Questions.empty(); }));
    TExchangeWorker::TCredentialsAnswer answer;
    {
        const std::lock_guard<std::mutex> lock(Seen.Lock);
        EXPECT_EQ(Seen.Questions.front().Server,
                  "127.0.0.1:" + std::to_string(server->Web().Port()));
        EXPECT_FALSE(Seen.Questions.front().ForProxy);
        answer = Seen.Answers.front();
    }
    EXPECT_TRUE(Worker.Busy());
    answer(true, "ann", "pw1");
    const TExchangeResult result = Seen.Finished();
    EXPECT_EQ(result.Outcome, TExchangeOutcome::Downloaded) << result.Text;
    // Asked once: the answer counts for the server from then on.
    EXPECT_EQ(Seen.Questions.size(), 1u);
}

TEST_F(ExchangeWorkerTest, CancelEndsTheWaitForCredentials) {
    test::ExchangeServerOptions locked;
    locked.AuthUsers = {{"ann", "pw1"}};
    auto server = Exchange(locked);
    SetBase(server->Base());
    ASSERT_TRUE(Worker.Start(TExchangeKind::AccessId));
    ASSERT_TRUE(Seen.WaitFor([&] { return !Seen.Questions.empty(); }));
    Worker.Cancel();
    const TExchangeResult result = Seen.Finished();
    EXPECT_EQ(result.Outcome, TExchangeOutcome::Cancelled);
    EXPECT_EQ(ReadKey(Prefs(), keys::AccessId), 0);
    // An answer that comes too late goes nowhere.
    Seen.Answers.front()(true, "ann", "pw1");
    EXPECT_FALSE(Worker.Busy());
}

} // namespace
} // namespace pellora
