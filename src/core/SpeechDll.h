#pragma once

#include "platform/Errors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pellora {

// An error reported by the speech engine library.
class ESpeech : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// The calls of the speech engine library, looked up by these names: "Initialize",
// "IsSpeechEnabled", "Speak", "GetExceptionText". Results of 0 or less are failures.
using TMurmurInitialize = void (*)(void* instance, std::uintptr_t window);
using TMurmurIsSpeechEnabled = int (*)(unsigned char* enabled);
using TMurmurSpeak = int (*)(const char* text);
using TMurmurGetExceptionText = const char* (*)();

inline constexpr const char* MurmurLoadFailedText = "Could not load the Murmur library.";
inline constexpr const char* MurmurNoInitializeText =
    "Could not find Murmur's initialization function.";
inline constexpr const char* MurmurNoErrorInfoText =
    "Something went wrong with the Murmur library, but unfortunately no error information "
    "could be retrieved.";
// Users read "speech engine", never the file name of a library.
inline constexpr const char* MurmurErrorPrefix = "Error in the speech engine:\r\n";

// Wraps the speech engine library, loaded at run time; a missing or broken library only
// leaves the program without speech.
class TSpeechDll {
public:
    using TWarningEvent = std::function<void(const std::string& text)>;
    using TErrorEvent = std::function<void(const ESpeech& error)>;

    // Loads the library, calls "Initialize" and asks "IsSpeechEnabled". A load failure is
    // told to onWarning unless silent; a missing "Initialize" always is. Creation never
    // throws: when "IsSpeechEnabled" fails, speech stays off and its ESpeech goes to onError,
    // so the caller always gets a usable object. Without handlers both go to stderr.
    TSpeechDll(bool silent, const std::string& libraryPath = DefaultLibraryPath(),
               TWarningEvent onWarning = {}, TErrorEvent onError = {}, std::uintptr_t window = 0);
    ~TSpeechDll();
    TSpeechDll(const TSpeechDll&) = delete;
    TSpeechDll& operator=(const TSpeechDll&) = delete;

    // Has the engine speak the text when it is loaded, initialised and speech is on; does
    // nothing otherwise. Throws ESpeech when "Speak" reports a failure.
    void SpeakText(const std::string& text);

    bool Loaded() const { return FLoaded; }
    bool Initialized() const { return FInitialized; }
    bool SpeechEnabled() const { return FSpeechEnabled; }
    // The engine's text for the last failure.
    const std::string& LastError() const { return FLastError; }
    // Why the library could not be loaded (the loader's text); empty when it was.
    const std::string& LoadError() const { return FLoadError; }

    // <executable's folder>/../lib/pellora/libmurmur.so
    static std::string DefaultLibraryPath();

private:
    template <typename TProc> TProc Proc(const char* name) const;
    // Takes the engine's error text into LastError and makes the error to raise.
    ESpeech MakeError();
    void Warn(const std::string& text) const;
    void Report(const ESpeech& error) const;

    struct TCloser {
        void operator()(void* handle) const;
    };
    // Owned, so a handler that throws out of the constructor still frees the library.
    std::unique_ptr<void, TCloser> LibHandle;
    std::unique_ptr<void, TCloser> ProgramHandle;
    bool FLoaded = false;
    bool FInitialized = false;
    bool FSpeechEnabled = false;
    std::string FLastError;
    std::string FLoadError;
    TWarningEvent OnWarning;
    TErrorEvent OnError;
};

// What came of loading the speech engine as the program does: silently, with anything the
// engine reports taken as the reason it will not speak.
struct TSpeechStart {
    enum TOutcome {
        Speaks,
        SwitchedOff, // by the engine's own settings: not a fault
        NotLoaded,   // no engine to load: the program runs without one
        Fails,       // an engine that is there but cannot speak
    };
    TOutcome Outcome = NotLoaded;
    // NotLoaded: the loader's text; Fails: what went wrong, with the engine's path.
    std::string Reason;
};

// Loads the engine at libraryPath into `engine` and tells whether it will speak.
TSpeechStart StartSpeechEngine(const std::string& libraryPath, std::unique_ptr<TSpeechDll>& engine);

} // namespace pellora
