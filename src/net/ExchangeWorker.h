#pragma once

#include "net/MsgExchange.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace pellora {

class TAdvHttp;
class TNetModule;

// Runs the exchanges of a program, one at a time, on a thread of its own, so the thread that
// starts them never waits on the network. The network module is made on that thread with the
// first exchange (libcurl loads only then) and kept for the rest of the run.
class TExchangeWorker {
public:
    struct TCredentialsQuestion {
        std::string Server; // host, or host:port when the port is not the scheme's own
        bool ForProxy = false;
        std::string UserName;
        std::string Password;
    };
    // The user's answer, given once from any thread: true with the credentials to try, false
    // when the user declines.
    using TCredentialsAnswer =
        std::function<void(bool ok, const std::string& userName, const std::string& password)>;

    // The preferences file, the folder of the request logs, and the folder that holds the
    // language folders of the libraries and own messages.
    TExchangeWorker(std::string prefsFile, std::string logFolder, std::string localFolder);
    // Cancels an exchange under way and waits for the thread to end.
    ~TExchangeWorker();
    TExchangeWorker(const TExchangeWorker&) = delete;
    TExchangeWorker& operator=(const TExchangeWorker&) = delete;

    // Set these before the first Start; they are called on the worker thread.
    // Bytes received so far in the exchange under way.
    std::function<void(std::uint64_t bytesReceived)> OnProgress;
    // Changes of an upload done so far, of all it has, after each batch.
    std::function<void(std::size_t done, std::size_t total)> OnBatch;
    // The outcome, the last call of every exchange.
    std::function<void(const TExchangeResult& result)> OnFinished;
    // A server or proxy asks for credentials: put the question to the user without blocking
    // and answer later. The exchange waits for the answer; Cancel ends the wait. Without a
    // handler the request for credentials is declined.
    std::function<void(const TCredentialsQuestion& question, TCredentialsAnswer answer)>
        OnNeedCredentials;

    // Starts an exchange on the worker thread; false, and nothing started, while one runs.
    bool Start(TExchangeKind kind, const std::string& languageCode = "");
    // Ends the exchange under way as cancelled: its request stops at once (WinInet's 12017),
    // nothing of it is stored and OnFinished reports Cancelled. Nothing happens when none runs.
    void Cancel();
    bool Busy() const;

private:
    struct TJob {
        TExchangeKind Kind = TExchangeKind::AccessId;
        std::string LanguageCode;
    };
    // What the worker thread and the others share; an answer to a question for credentials
    // may come after the worker is gone, so it holds its own share.
    struct TShared {
        std::mutex Lock;
        std::condition_variable Changed;
        std::optional<TJob> Pending;
        bool Running = false;   // from Start to just before OnFinished
        bool Cancelled = false; // of the exchange under way
        bool Stopping = false;
        TNetModule* Module = nullptr; // once made
        std::uint64_t Question = 0;   // number of the last question for credentials
        std::uint64_t Answered = 0;   // number of the last question answered
        bool AnswerOk = false;
        std::string AnswerUser;
        std::string AnswerPassword;
    };

    void Run();
    TExchangeResult RunJob(const TJob& job);
    void MakeModule();
    bool AskCredentials(TAdvHttp& http, bool forProxy, std::string& userName,
                        std::string& password);

    std::string Prefs;
    std::string Logs;
    std::string Local;
    std::shared_ptr<TShared> Shared;
    std::unique_ptr<TNetModule> Module; // used on the worker thread only
    std::uint64_t Received = 0;
    std::thread Thread;
};

} // namespace pellora
