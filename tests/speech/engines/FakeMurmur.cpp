// A stand-in speech engine whose exports each variant leaves out by a definition. Its
// behaviour comes from FAKE_MURMUR_* variables read at every call, and every call is
// appended to the file FAKE_MURMUR_LOG names, so a test sees what the wrapper did.
#include "murmur/Murmur.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::string Setting(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

void Log(const std::string& line) {
    std::string path = Setting("FAKE_MURMUR_LOG", "");
    if (path.empty())
        return;
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

void MaybeThrow(const char* call) {
    if (Setting("FAKE_MURMUR_THROW", "") == call)
        throw std::runtime_error(call);
}

std::string ErrorText;

} // namespace

#ifndef FAKE_WITHOUT_INITIALIZE
void Initialize(void* instance, uintptr_t window) {
    // snprintf rather than std::to_string: the latter's static table would pin the library
    // in memory, and a test checks that it is unloaded.
    char number[32];
    std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(window));
    Log("Initialize " + std::string(instance ? "program" : "null") + " " + number);
    MaybeThrow("Initialize");
}
#endif

#ifndef FAKE_WITHOUT_IS_SPEECH_ENABLED
int IsSpeechEnabled(unsigned char* enabled) {
    Log("IsSpeechEnabled");
    MaybeThrow("IsSpeechEnabled");
    *enabled = static_cast<unsigned char>(std::atoi(Setting("FAKE_MURMUR_FLAG", "1").c_str()));
    return std::atoi(Setting("FAKE_MURMUR_ENABLED_RESULT", "1").c_str());
}
#endif

#ifndef FAKE_WITHOUT_SPEAK
int Speak(const char* text) {
    Log("Speak " + std::string(text));
    MaybeThrow("Speak");
    return std::atoi(Setting("FAKE_MURMUR_SPEAK_RESULT", "1").c_str());
}
#endif

#ifndef FAKE_WITHOUT_GET_EXCEPTION_TEXT
const char* GetExceptionText(void) {
    Log("GetExceptionText");
    if (Setting("FAKE_MURMUR_ERROR", "") == "(null)")
        return nullptr;
    ErrorText = Setting("FAKE_MURMUR_ERROR", "");
    return ErrorText.c_str();
}
#endif
