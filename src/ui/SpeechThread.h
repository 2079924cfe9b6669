#pragma once

#include "core/SpeechDll.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QProcess;

namespace pellora {

// The speech engine of a run, loaded on a thread of its own at the first speech: a waiting
// program carries neither the engine nor its synthesiser and sound libraries, and the window
// showing a reminder never waits for them. Whether the engine will speak is found out at start
// by a helper process that loads it and ends, so a broken engine is still told at once.
// Every call of the engine is made on the thread; what it reports comes back as signals.
class TSpeechThread : public QObject {
    Q_OBJECT
public:
    // `library` is the engine; `checker` the helper that checks it (none when empty).
    TSpeechThread(std::string library, std::string checker, QObject* parent = nullptr);
    // Waits for the engine's call under way, if any; texts still queued are dropped.
    ~TSpeechThread() override;
    TSpeechThread(const TSpeechThread&) = delete;
    TSpeechThread& operator=(const TSpeechThread&) = delete;

    // Has the helper find out whether the engine will speak; runs once, in the background.
    void CheckAtStart();
    // Queues the text for the engine and returns at once; the first text loads the engine.
    // Nothing happens once the engine is known not to speak in this run.
    void Speak(const QString& text);

    // The engine is loaded into this process.
    bool Loaded() const { return LoadedHere; }
    // False once the engine is known not to speak in this run.
    bool SpeechEnabled() const { return Known != TKnown::Silent; }
    // Why the engine will not speak, in words for the user; empty while it may.
    const QString& Problem() const { return ProblemText; }
    // Whether the user should hear of Problem: not for an engine that is not installed (the
    // program is meant to run without one), only for one that fails.
    bool ProblemIsNews() const { return News; }

    // How long a check may take before its helper is stopped and the check given up.
    static constexpr int CheckTimeoutMs = 30000;

signals:
    // Problem has become known; sent once.
    void ProblemFound();
    // Speaking a text failed; the text for the user.
    void Failed(const QString& text);

private:
    enum class TKnown { Unknown, Speaks, Silent };
    struct TText {
        std::string Text;
        std::chrono::steady_clock::time_point Asked;
    };

    void Run();
    // On the UI thread: what loading the engine found, here or in the helper.
    void Learn(const TSpeechStart& start, bool loadedHere);
    void CheckFinished(int exitCode, bool crashed);

    const std::string Library;
    const std::string Checker;
    // PELLORA_TRACE_STARTUP: each text's hand-over to the engine goes to stderr.
    const bool Trace;
    QProcess* Check = nullptr;
    bool CheckStarted = false;
    TKnown Known = TKnown::Unknown;
    bool LoadedHere = false;
    QString ProblemText;
    bool News = false;

    // Shared with the thread.
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<TText> Queue;
    bool Stopping = false;
    std::thread Worker;
    // The thread's own: made and called there only.
    std::unique_ptr<TSpeechDll> Engine;
};

} // namespace pellora
