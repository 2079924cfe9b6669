#include "ui/SpeechThread.h"

#include <QMetaObject>
#include <QProcess>
#include <QTimer>
#include <cstdio>

namespace pellora {

namespace {

// More than any reason the helper has to give.
constexpr qsizetype MaxReason = 4096;

} // namespace

TSpeechThread::TSpeechThread(std::string library, std::string checker, QObject* parent)
    : QObject(parent), Library(std::move(library)), Checker(std::move(checker)),
      Trace(qEnvironmentVariableIsSet("PELLORA_TRACE_STARTUP")) {}

TSpeechThread::~TSpeechThread() {
    if (Check != nullptr) {
        // Ended here, so that its end reaches no handler of this half-destroyed object.
        QObject::disconnect(Check, nullptr, this, nullptr);
        Check->kill();
        Check->waitForFinished();
        delete Check;
    }
    {
        std::lock_guard lock(Lock);
        Stopping = true;
        Queue.clear();
    }
    Wake.notify_all();
    if (Worker.joinable())
        Worker.join();
    Engine.reset();
}

void TSpeechThread::CheckAtStart() {
    if (CheckStarted || Checker.empty() || Known != TKnown::Unknown)
        return;
    CheckStarted = true;
    Check = new QProcess(this);
    Check->setProgram(QString::fromStdString(Checker));
    Check->setArguments({QString::fromStdString(Library)});
    // What the engine writes on its own goes where the program's messages go.
    Check->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(Check, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        CheckFinished(exitCode, status == QProcess::CrashExit);
    });
    connect(Check, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            CheckFinished(-1, true);
    });
    // An engine that hangs while starting must not keep a helper around for the whole run.
    QTimer::singleShot(CheckTimeoutMs, Check, [this] { Check->kill(); });
    Check->start();
}

void TSpeechThread::CheckFinished(int exitCode, bool crashed) {
    if (Check == nullptr)
        return;
    const QByteArray said = Check->readAllStandardOutput().left(MaxReason);
    Check->deleteLater();
    Check = nullptr;
    // A helper that could not tell leaves it to the first speech to find out.
    if (crashed || exitCode < TSpeechStart::Speaks || exitCode > TSpeechStart::Fails)
        return;
    TSpeechStart start;
    start.Outcome = static_cast<TSpeechStart::TOutcome>(exitCode);
    start.Reason = said.toStdString();
    Learn(start, false);
}

void TSpeechThread::Speak(const QString& text) {
    if (Known == TKnown::Silent)
        return;
    {
        std::lock_guard lock(Lock);
        Queue.push_back({text.toStdString(), std::chrono::steady_clock::now()});
    }
    if (!Worker.joinable())
        Worker = std::thread(&TSpeechThread::Run, this);
    Wake.notify_one();
}

void TSpeechThread::Run() {
    const TSpeechStart start = StartSpeechEngine(Library, Engine);
    QMetaObject::invokeMethod(
        this, [this, start] { Learn(start, true); }, Qt::QueuedConnection);
    std::unique_lock lock(Lock);
    if (start.Outcome != TSpeechStart::Speaks) {
        // Silent for the rest of the run: nothing more comes here.
        Queue.clear();
        return;
    }
    for (;;) {
        Wake.wait(lock, [this] { return Stopping || !Queue.empty(); });
        if (Stopping)
            return;
        const TText next = std::move(Queue.front());
        Queue.pop_front();
        lock.unlock();
        QString failure;
        try {
            Engine->SpeakText(next.Text);
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        if (Trace)
            std::fprintf(stderr, "pellora: speech asked %.1f ms after the reminder's paint\n",
                         std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now() - next.Asked)
                             .count());
        if (!failure.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, failure] { emit Failed(failure); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void TSpeechThread::Learn(const TSpeechStart& start, bool loadedHere) {
    if (loadedHere)
        LoadedHere = start.Outcome != TSpeechStart::NotLoaded;
    // The engine in this process has the last word; the helper only speaks first.
    if (!loadedHere && Known != TKnown::Unknown)
        return;
    Known = start.Outcome == TSpeechStart::Speaks ? TKnown::Speaks : TKnown::Silent;
    if (start.Outcome == TSpeechStart::Speaks || start.Outcome == TSpeechStart::SwitchedOff ||
        !ProblemText.isEmpty())
        return;
    const QString reason = QString::fromStdString(start.Reason);
    if (start.Outcome == TSpeechStart::NotLoaded) {
        ProblemText = QStringLiteral("Speech is off: the speech engine could not be loaded (%1).")
                          .arg(reason);
    } else {
        ProblemText = QStringLiteral("Speech is off for this run. ") + reason;
        News = true;
    }
    emit ProblemFound();
}

} // namespace pellora
