#include "MurmurEngine.h"

#include "MurmurText.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

namespace pellora {

namespace {

constexpr const char* NotInitializedText = "The speech engine has not been initialised.";
// Long enough for any sentence, short enough that stopping waits for a few seconds at most.
constexpr std::size_t PieceBytes = 300;
// A WAV file of more than this is refused rather than filling memory.
constexpr int MaxWaveSeconds = 600;

struct TSynthRun {
    const std::atomic<bool>* Abort = nullptr;
    bool Keep = false;
    std::size_t MaxKept = 0;
    std::vector<std::int16_t> Kept;
    std::uint64_t Samples = 0;
    int Peak = 0;
    std::optional<std::chrono::steady_clock::time_point> First;
    bool TooLong = false;
};

// Set by the worker around each synthesis; espeak-ng calls back on that same thread.
TSynthRun* CurrentRun = nullptr;

int SynthCallback(short* wav, int count, espeak_EVENT*) {
    TSynthRun* run = CurrentRun;
    if (run == nullptr)
        return 0;
    if (wav != nullptr && count > 0) {
        if (!run->First)
            run->First = std::chrono::steady_clock::now();
        run->Samples += static_cast<std::uint64_t>(count);
        for (int i = 0; i < count; ++i)
            run->Peak = std::max(run->Peak, std::abs(static_cast<int>(wav[i])));
        if (run->Keep) {
            if (run->Kept.size() + static_cast<std::size_t>(count) > run->MaxKept) {
                run->TooLong = true;
                return 1;
            }
            run->Kept.insert(run->Kept.end(), wav, wav + count);
        }
    }
    return run->Abort->load() ? 1 : 0;
}

// Keeps this library, and with it espeak-ng, loaded until the process ends. espeak-ng runs
// threads of its own, keeps an opened sound device for good and cannot be terminated and
// started again, so the engine is made once per process and only ends with it.
void PinThisLibrary() {
    static bool pinned = false;
    if (pinned)
        return;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&SynthCallback), &info) != 0 && info.dli_fname != nullptr)
        pinned = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

std::string StatusText(espeak_ng_STATUS status) {
    char buffer[512] = {};
    espeak_ng_GetStatusCodeMessage(status, buffer, sizeof buffer);
    return buffer;
}

// The status with the details the error context holds (such as the missing file).
std::string StatusText(espeak_ng_STATUS status, espeak_ng_ERROR_CONTEXT context) {
    char* text = nullptr;
    std::size_t size = 0;
    std::string result;
    if (FILE* stream = ::open_memstream(&text, &size)) {
        espeak_ng_PrintStatusCodeMessage(status, stream, context);
        std::fclose(stream);
        result.assign(text, size);
        std::free(text);
    }
    result = Trim(result);
    return result.empty() ? StatusText(status) : result;
}

const char* OutputName(TMurmurOutput output) {
    switch (output) {
    case TMurmurOutput::Memory:
        return "Memory";
    case TMurmurOutput::File:
        return "File";
    default:
        return "Device";
    }
}

} // namespace

TMurmurEngine::~TMurmurEngine() {
    {
        std::lock_guard lock(Lock);
        Stopping = true;
        Abort = true;
        Waiting.reset();
    }
    Wake.notify_all();
    if (Worker.joinable())
        Worker.join();
}

int TMurmurEngine::Fail(std::string text) {
    Error = std::move(text);
    return -1;
}

void TMurmurEngine::Initialize() {
    TMurmurSettings settings;
    try {
        settings = LoadMurmurSettings(MurmurSettingsFile());
    } catch (const std::exception& e) {
        settings.Problem = Format("The speech settings could not be read: %s", e.what());
    }
    std::unique_lock lock(Lock);
    if (Stopping)
        return;
    try {
        PinThisLibrary();
        if (!Worker.joinable())
            Worker = std::thread(&TMurmurEngine::Run, this);
        // A new configuration cuts short what is being said and forgets what waits.
        Waiting.reset();
        Abort = true;
        PendingSettings = std::move(settings);
        std::uint64_t ticket = ++ConfigRequests;
        Wake.notify_all();
        Done.wait(lock, [&] { return ConfigsDone >= ticket || Stopping; });
    } catch (const std::exception& e) {
        ConfigError = Format("The speech engine could not start: %s", e.what());
    }
    Initialized = true;
}

int TMurmurEngine::IsSpeechEnabled(unsigned char* enabled) {
    std::lock_guard lock(Lock);
    try {
        if (enabled == nullptr)
            return Fail("IsSpeechEnabled was given no flag to set.");
        *enabled = 0;
        if (!Initialized)
            return Fail(NotInitializedText);
        if (!ConfigError.empty())
            return Fail(ConfigError);
        *enabled = Active.Enabled ? 1 : 0;
        return 1;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

int TMurmurEngine::Speak(const char* text) {
    Clock::time_point called = Clock::now();
    std::lock_guard lock(Lock);
    try {
        if (text == nullptr)
            return Fail("Speak was given no text.");
        if (!Initialized)
            return Fail(NotInitializedText);
        if (!ConfigError.empty())
            return Fail(ConfigError);
        if (!Active.Enabled)
            return 1;
        // A failure in the background is told to the next caller; this message is not queued.
        if (!BackgroundError.empty()) {
            std::string error = std::move(BackgroundError);
            BackgroundError.clear();
            return Fail(std::move(error));
        }
        if (Waiting)
            ++Replaced;
        Waiting = TMessage{text, called};
        Wake.notify_all();
        return 1;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

const char* TMurmurEngine::ExceptionText() {
    std::lock_guard lock(Lock);
    try {
        Returned = Error;
    } catch (...) {
        return "Out of memory.";
    }
    return Returned.c_str();
}

void TMurmurEngine::Run() {
    std::unique_lock lock(Lock);
    for (;;) {
        Wake.wait(lock, [&] { return Stopping || PendingSettings || Waiting; });
        if (Stopping)
            break;
        if (PendingSettings) {
            TMurmurSettings settings = std::move(*PendingSettings);
            PendingSettings.reset();
            std::uint64_t ticket = ConfigRequests;
            lock.unlock();
            std::string error;
            try {
                error = Configure(settings);
            } catch (const std::exception& e) {
                error = e.what();
            }
            lock.lock();
            Active = std::move(settings);
            ConfigError = std::move(error);
            BackgroundError.clear();
            Spoken = Replaced = 0;
            ConfigsDone = ticket;
            Done.notify_all();
            continue;
        }
        TMessage message = std::move(*Waiting);
        Waiting.reset();
        Abort = false;
        ++Spoken;
        lock.unlock();
        TOutcome outcome;
        try {
            outcome = Say(message);
        } catch (const std::exception& e) {
            outcome.Error = outcome.Result =
                Format("The message could not be spoken: %s", e.what());
        }
        lock.lock();
        // The error is in place before the status file tells that the message is done.
        if (!outcome.Error.empty())
            BackgroundError = outcome.Error;
        std::uint64_t spoken = Spoken, replaced = Replaced;
        bool report = !Active.StatusFile.empty() && !Stopping;
        lock.unlock();
        if (report) {
            try {
                WriteStatus(message, outcome, spoken, replaced);
            } catch (const std::exception& e) {
                lock.lock();
                if (BackgroundError.empty())
                    BackgroundError =
                        Format("The speech status file could not be written: %s", e.what());
                lock.unlock();
            }
        }
        lock.lock();
    }
    lock.unlock();
    // Once per process (this library stays loaded): a second espeak_ng_Terminate hangs.
    if (SynthStarted)
        espeak_ng_Terminate();
}

std::string TMurmurEngine::Configure(const TMurmurSettings& settings) {
    if (!settings.Problem.empty())
        return settings.Problem;
    if (!settings.Enabled)
        return {};
    if (!SynthStarted) {
        espeak_ng_InitializePath(nullptr);
        espeak_ng_ERROR_CONTEXT context = nullptr;
        espeak_ng_STATUS status = espeak_ng_Initialize(&context);
        if (status != ENS_OK) {
            std::string text = StatusText(status, context);
            espeak_ng_ClearErrorContext(&context);
            return Format("The speech data could not be loaded: %s", text.c_str());
        }
        SynthStarted = true;
    }
    bool device = settings.Output == TMurmurOutput::Device;
    int mode = ENOUTPUT_MODE_SYNCHRONOUS | (device ? ENOUTPUT_MODE_SPEAK_AUDIO : 0);
    if (mode != OutputMode) {
        // espeak-ng forgets an open device when its output is set again but keeps it open,
        // so once given up the device cannot be opened again.
        if (device && DeviceOpened)
            return "The sound device was given up for another speech output and cannot be "
                   "taken up again while Pellora runs; restart Pellora to speak through it.";
        espeak_ng_STATUS status =
            espeak_ng_InitializeOutput(static_cast<espeak_ng_OUTPUT_MODE>(mode), 0, nullptr);
        if (status != ENS_OK)
            return Format("The speech output could not be started: %s.",
                          StatusText(status).c_str());
        OutputMode = mode;
        SampleRate = espeak_ng_GetSampleRate();
        espeak_SetSynthCallback(SynthCallback);
    }
    std::string voice = settings.Voice.empty() ? DesktopVoice() : settings.Voice;
    espeak_ng_STATUS status = espeak_ng_SetVoiceByName(voice.c_str());
    if (status != ENS_OK && settings.Voice.empty() && voice != "en") {
        // The desktop's language has no voice: English rather than silence.
        voice = "en";
        status = espeak_ng_SetVoiceByName(voice.c_str());
    }
    if (status != ENS_OK)
        return Format("The voice \"%s\" is not available.", voice.c_str());
    espeak_ng_SetParameter(espeakRATE, settings.Rate, 0);
    espeak_ng_SetParameter(espeakVOLUME, settings.Volume, 0);
    if (device && !DeviceOpened) {
        // Synthesising nothing opens the sound device, so a missing one shows up now and
        // not as silence at the first reminder.
        status =
            espeak_ng_Synthesize("", 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        if (status != ENS_OK) {
            OutputMode = -1; // try the device afresh next time
            return Format("No sound device could be opened for speech (%s). Connect or switch "
                          "on a sound device and start Pellora again; to use the speech engine "
                          "without one, set Output=Memory or Output=File in \"%s\".",
                          StatusText(status).c_str(), settings.FileName.c_str());
        }
        DeviceOpened = true;
    }
    return {};
}

TMurmurEngine::TOutcome TMurmurEngine::Say(const TMessage& message) {
    TOutcome outcome;
    TSynthRun run;
    run.Abort = &Abort;
    run.Keep = Active.Output == TMurmurOutput::File;
    run.MaxKept = static_cast<std::size_t>(SampleRate) * MaxWaveSeconds;
    // Messages from files in an older 8-bit encoding are read as Latin-1 rather than garbled.
    int flags = IsValidUtf8(message.Text) ? espeakCHARS_UTF8 : espeakCHARS_8BIT;
    CurrentRun = &run;
    for (std::string_view piece : SplitSpeechText(message.Text, PieceBytes)) {
        if (Abort) {
            outcome.Result = "Stopped";
            break;
        }
        std::string chunk(piece);
        espeak_ng_STATUS status =
            espeak_ng_Synthesize(chunk.c_str(), chunk.size() + 1, 0, POS_CHARACTER, 0,
                                 static_cast<unsigned>(flags), nullptr, nullptr);
        if (run.TooLong) {
            outcome.Error = Format("The message is too long to be written to a sound file "
                                   "(more than %d seconds).",
                                   MaxWaveSeconds);
            break;
        }
        if (status == ENS_SPEECH_STOPPED) {
            outcome.Result = "Stopped";
            break;
        }
        if (status != ENS_OK) {
            outcome.Error =
                Format("The message could not be spoken: %s.", StatusText(status).c_str());
            break;
        }
    }
    CurrentRun = nullptr;
    outcome.Samples = run.Samples;
    outcome.Peak = run.Peak;
    if (run.First)
        outcome.FirstSampleMs =
            std::chrono::duration<double, std::milli>(*run.First - message.Queued).count();
    if (outcome.Error.empty() && outcome.Result == "OK" && run.Keep) {
        try {
            AtomicWriteFile(Active.WaveFile, MakeWave(run.Kept, SampleRate));
        } catch (const EFileError& e) {
            outcome.Error = Format("The sound file could not be written: %s", e.what());
        }
    }
    if (!outcome.Error.empty())
        outcome.Result = outcome.Error;
    return outcome;
}

void TMurmurEngine::WriteStatus(const TMessage& message, const TOutcome& outcome,
                                std::uint64_t spoken, std::uint64_t replaced) {
    std::string text = "Text=";
    AppendOneLine(text, message.Text);
    std::string result = "Result=";
    AppendOneLine(result, outcome.Result);
    std::vector<std::string> lines = {
        "[Last Message]",
        result,
        text,
        Format("Output=%s", OutputName(Active.Output)),
        Format("SampleRate=%d", SampleRate),
        Format("Samples=%llu", static_cast<unsigned long long>(outcome.Samples)),
        Format("Peak=%d", outcome.Peak),
        outcome.FirstSampleMs ? Format("FirstSampleMs=%.3f", *outcome.FirstSampleMs)
                              : std::string("FirstSampleMs="),
        Format("Spoken=%llu", static_cast<unsigned long long>(spoken)),
        Format("Replaced=%llu", static_cast<unsigned long long>(replaced)),
    };
    WriteTextLines(Active.StatusFile, lines);
}

} // namespace pellora
