// pellora-speech-check LIBRARY: loads the speech engine the way the program does and tells
// whether it will speak. The program runs it at start, so a broken engine or a missing sound
// device is told at once while the engine itself is loaded only at the first speech. The exit
// status is the outcome (TSpeechStart::TOutcome); standard output holds its reason.
#include "core/SpeechDll.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellora-speech-check LIBRARY\n");
        return 64;
    }
    std::unique_ptr<pellora::TSpeechDll> engine;
    const pellora::TSpeechStart start = pellora::StartSpeechEngine(argv[1], engine);
    std::fwrite(start.Reason.data(), 1, start.Reason.size(), stdout);
    std::fflush(stdout);
    // The engine's threads and its sound device end with the process; nothing to wait for.
    ::_exit(static_cast<int>(start.Outcome));
}
