// Figures of the real speech engine, synthesising to memory: the time from Speak to its first
// audio sample (as the engine measures it), and the resident memory that loading and starting
// the engine adds. Runs in a temporary configuration folder; needs no sound device.
#include "core/SpeechDll.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

std::string Folder;

std::string StatusFile() {
    return Folder + "status.ini";
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::unique_ptr<pellora::TSpeechDll> LoadEngine() {
    auto speech = std::make_unique<pellora::TSpeechDll>(
        true, MURMUR_LIBRARY, [](const std::string& text) { throw std::runtime_error(text); },
        [](const pellora::ESpeech& error) { throw std::runtime_error(error.what()); });
    if (!speech->SpeechEnabled())
        throw std::runtime_error("the speech engine is not available");
    // Reports of earlier messages are all written by the time the engine has started.
    std::remove(StatusFile().c_str());
    return speech;
}

// Speaks and waits (at most 30 s) for the engine's report of that message.
double SpeakAndGetFirstSampleMs(pellora::TSpeechDll& speech, const std::string& text,
                                int messageNumber) {
    speech.SpeakText(text);
    pellora::IniFile status(StatusFile());
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (status.ReadInteger("Last Message", "Spoken", 0) < messageNumber) {
        if (std::chrono::steady_clock::now() > limit)
            throw std::runtime_error("the engine did not report message " +
                                     std::to_string(messageNumber) + ": " +
                                     pellora::ReadFileBytes(StatusFile()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::strtod(status.ReadString("Last Message", "FirstSampleMs", "-1").c_str(), nullptr);
}

// Must run first: the engine stays loaded once started.
void BM_EngineStartResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        long before = ResidentKiB();
        auto speech = LoadEngine();
        // The first message loads the rest of the voice data.
        SpeakAndGetFirstSampleMs(*speech, "Are you dreaming?", 1);
        long after = ResidentKiB();
        state.counters["AddedKiB"] = static_cast<double>(after - before);
    }
}
BENCHMARK(BM_EngineStartResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SpeakToFirstSample(benchmark::State& state) {
    auto speech = LoadEngine();
    const std::string text = "Are you dreaming right now? Look at your hands.";
    int number = 0;
    for (auto _ : state) {
        double ms = SpeakAndGetFirstSampleMs(*speech, text, ++number);
        if (ms < 0) {
            state.SkipWithError("no first sample was reported");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}
BENCHMARK(BM_SpeakToFirstSample)
    ->UseManualTime()
    ->Iterations(200)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/pellora-speech-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    Folder = std::string(pattern) + "/";
    ::setenv("XDG_CONFIG_HOME", pattern, 1);
    pellora::WriteTextLines(Folder + "Harbrook/Pellora 3/Murmur.ini",
                            {"[Murmur]", "Output=Memory", "StatusFile=" + StatusFile()});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    return 0;
}
