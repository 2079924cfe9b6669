#include "Murmur.h"

#include "MurmurEngine.h"
#include "core/SpeechDll.h"

#include <type_traits>

// The program looks these up by name; their types must be the ones it calls them with.
static_assert(std::is_same_v<decltype(&Initialize), pellora::TMurmurInitialize>);
static_assert(std::is_same_v<decltype(&IsSpeechEnabled), pellora::TMurmurIsSpeechEnabled>);
static_assert(std::is_same_v<decltype(&Speak), pellora::TMurmurSpeak>);
static_assert(std::is_same_v<decltype(&GetExceptionText), pellora::TMurmurGetExceptionText>);

namespace {

// Made at the first call; the library keeps itself loaded, so it is destroyed at exit.
pellora::TMurmurEngine& Engine() {
    static pellora::TMurmurEngine engine;
    return engine;
}

} // namespace

// The engine needs neither the program nor its window: it speaks on its own thread.
void Initialize(void*, uintptr_t) {
    Engine().Initialize();
}

int IsSpeechEnabled(unsigned char* enabled) {
    return Engine().IsSpeechEnabled(enabled);
}

int Speak(const char* text) {
    return Engine().Speak(text);
}

const char* GetExceptionText(void) {
    return Engine().ExceptionText();
}
