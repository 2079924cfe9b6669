#pragma once

#include "MurmurSettings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pellora {

// The engine behind the four exported calls. One worker thread owns espeak-ng (which keeps
// global state and is not thread-safe) and speaks one message at a time. At most one message
// waits behind the one being spoken: a newer message replaces the waiting one, while the one
// being spoken is finished, so the last reminder shown is always the last one heard.
class TMurmurEngine {
public:
    TMurmurEngine() = default;
    // Stops the message being spoken at its next sentence and waits for the worker. The library
    // stays loaded until the process ends, so this runs once, at exit.
    ~TMurmurEngine();
    TMurmurEngine(const TMurmurEngine&) = delete;
    TMurmurEngine& operator=(const TMurmurEngine&) = delete;

    // The exported calls; none throws.
    void Initialize();
    int IsSpeechEnabled(unsigned char* enabled);
    int Speak(const char* text);
    const char* ExceptionText();

private:
    using Clock = std::chrono::steady_clock;

    struct TMessage {
        std::string Text;
        Clock::time_point Queued;
    };

    // What came out of one message, for the status file.
    struct TOutcome {
        std::string Result = "OK";
        std::string Error; // reported by the next Speak
        std::uint64_t Samples = 0;
        int Peak = 0;
        std::optional<double> FirstSampleMs;
    };

    void Run();
    std::string Configure(const TMurmurSettings& settings); // worker thread
    TOutcome Say(const TMessage& message);                  // worker thread
    void WriteStatus(const TMessage& message, const TOutcome& outcome, std::uint64_t spoken,
                     std::uint64_t replaced);
    int Fail(std::string text); // caller holds Lock

    std::mutex Lock;
    std::condition_variable Wake; // to the worker
    std::condition_variable Done; // from the worker
    std::thread Worker;
    bool Stopping = false;
    bool Initialized = false;
    std::optional<TMurmurSettings> PendingSettings;
    std::uint64_t ConfigRequests = 0;
    std::uint64_t ConfigsDone = 0;
    std::optional<TMessage> Waiting;
    std::uint64_t Spoken = 0;   // messages taken up since the last Initialize
    std::uint64_t Replaced = 0; // messages replaced before they were taken up
    std::atomic<bool> Abort{false};

    TMurmurSettings Active; // as last configured
    std::string ConfigError;
    std::string BackgroundError;
    std::string Error;    // of the last failed call
    std::string Returned; // what ExceptionText handed out

    // Worker-thread state of espeak-ng, which lives as long as the process.
    bool SynthStarted = false;
    int OutputMode = -1;
    bool DeviceOpened = false;
    int SampleRate = 0;
};

} // namespace pellora
