#include "net/ExchangeWorker.h"

#include "net/PellNet.h"

#include <exception>

namespace pellora {

TExchangeWorker::TExchangeWorker(std::string prefsFile, std::string logFolder,
                                 std::string localFolder)
    : Prefs(std::move(prefsFile)), Logs(std::move(logFolder)), Local(std::move(localFolder)),
      Shared(std::make_shared<TShared>()) {}

TExchangeWorker::~TExchangeWorker() {
    {
        const std::lock_guard<std::mutex> lock(Shared->Lock);
        Shared->Stopping = true;
        Shared->Cancelled = true;
        if (Shared->Module != nullptr)
            Shared->Module->Cancel();
        Shared->Changed.notify_all();
    }
    if (Thread.joinable())
        Thread.join();
}

bool TExchangeWorker::Start(TExchangeKind kind, const std::string& languageCode) {
    const std::lock_guard<std::mutex> lock(Shared->Lock);
    if (Shared->Running || Shared->Stopping)
        return false;
    Shared->Running = true;
    Shared->Cancelled = false;
    Shared->Pending = TJob{kind, languageCode};
    if (!Thread.joinable())
        Thread = std::thread(&TExchangeWorker::Run, this);
    Shared->Changed.notify_all();
    return true;
}

void TExchangeWorker::Cancel() {
    const std::lock_guard<std::mutex> lock(Shared->Lock);
    if (!Shared->Running)
        return;
    Shared->Cancelled = true;
    if (Shared->Module != nullptr)
        Shared->Module->Cancel();
    // Ends a wait for credentials.
    Shared->Changed.notify_all();
}

bool TExchangeWorker::Busy() const {
    const std::lock_guard<std::mutex> lock(Shared->Lock);
    return Shared->Running;
}

void TExchangeWorker::Run() {
    for (;;) {
        TJob job;
        {
            std::unique_lock<std::mutex> lock(Shared->Lock);
            Shared->Changed.wait(lock, [&] { return Shared->Pending || Shared->Stopping; });
            if (Shared->Stopping)
                return;
            job = std::move(*Shared->Pending);
            Shared->Pending.reset();
        }
        const TExchangeResult result = RunJob(job);
        {
            const std::lock_guard<std::mutex> lock(Shared->Lock);
            Shared->Running = false;
        }
        if (OnFinished)
            OnFinished(result);
    }
}

void TExchangeWorker::MakeModule() {
    auto module = std::make_unique<TNetModule>(Prefs, Logs);
    module->FHttp.OnResponseReceived = [this](TAdvHttp& http) {
        Received += http.LastResponseBytes();
        if (OnProgress)
            OnProgress(Received);
    };
    module->FHttp.CredentialsDialog = [this](TAdvHttp& http, bool forProxy, std::string& userName,
                                             std::string& password) {
        return AskCredentials(http, forProxy, userName, password);
    };
    Module = std::move(module);
    const std::lock_guard<std::mutex> lock(Shared->Lock);
    Shared->Module = Module.get();
}

TExchangeResult TExchangeWorker::RunJob(const TJob& job) {
    if (!Module) {
        try {
            MakeModule();
        } catch (const std::exception& error) {
            TExchangeResult result;
            result.Kind = job.Kind;
            result.Text = error.what();
            return result;
        }
    }
    {
        // A Cancel that came before the module was ready still counts.
        const std::lock_guard<std::mutex> lock(Shared->Lock);
        Module->BeginExchange();
        if (Shared->Cancelled)
            Module->Cancel();
    }
    Received = 0;
    return RunExchange(*Module, job.Kind, Local, job.LanguageCode,
                       [this](std::size_t done, std::size_t total) {
                           if (OnBatch)
                               OnBatch(done, total);
                       });
}

bool TExchangeWorker::AskCredentials(TAdvHttp& http, bool forProxy, std::string& userName,
                                     std::string& password) {
    if (!OnNeedCredentials)
        return false;
    std::uint64_t question = 0;
    {
        const std::lock_guard<std::mutex> lock(Shared->Lock);
        if (Shared->Cancelled)
            return false;
        question = ++Shared->Question;
    }
    TCredentialsQuestion asked;
    asked.Server = http.HostName();
    if (http.Port() != (http.SSL() ? 443 : 80))
        asked.Server += ":" + std::to_string(http.Port());
    asked.ForProxy = forProxy;
    asked.UserName = userName;
    asked.Password = password;
    std::weak_ptr<TShared> weak = Shared;
    OnNeedCredentials(
        asked, [weak, question](bool ok, const std::string& user, const std::string& secret) {
            const std::shared_ptr<TShared> shared = weak.lock();
            if (!shared)
                return;
            const std::lock_guard<std::mutex> lock(shared->Lock);
            // A late answer to a question nobody waits for any more is dropped.
            if (shared->Question != question || shared->Answered == question)
                return;
            shared->Answered = question;
            shared->AnswerOk = ok;
            shared->AnswerUser = user;
            shared->AnswerPassword = secret;
            shared->Changed.notify_all();
        });
    std::unique_lock<std::mutex> lock(Shared->Lock);
    Shared->Changed.wait(lock, [&] { return Shared->Answered == question || Shared->Cancelled; });
    if (Shared->Answered != question || !Shared->AnswerOk)
        return false;
    userName = Shared->AnswerUser;
    password = Shared->AnswerPassword;
    return true;
}

} // namespace pellora
