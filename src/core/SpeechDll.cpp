#include "core/SpeechDll.h"

#include "platform/FileUtil.h"

#include <cstdio>
#include <dlfcn.h>

namespace pellora {

TSpeechDll::TSpeechDll(bool silent, const std::string& libraryPath, TWarningEvent onWarning,
                       TErrorEvent onError, std::uintptr_t window)
    : OnWarning(std::move(onWarning)), OnError(std::move(onError)) {
    LibHandle.reset(::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!LibHandle) {
        const char* reason = ::dlerror();
        FLoadError = reason ? reason : libraryPath;
        if (!silent)
            Warn(MurmurLoadFailedText);
    } else
        FLoaded = true;

    if (FLoaded) {
        if (auto initialize = Proc<TMurmurInitialize>("Initialize")) {
            ProgramHandle.reset(::dlopen(nullptr, RTLD_LAZY));
            try {
                initialize(ProgramHandle.get(), window);
                FInitialized = true;
            } catch (...) {
                // A C++ engine that throws instead of returning a failure: reported alike.
                Report(MakeError());
            }
        } else
            Warn(MurmurNoInitializeText);
    }

    if (FInitialized) {
        FSpeechEnabled = false;
        if (auto isSpeechEnabled = Proc<TMurmurIsSpeechEnabled>("IsSpeechEnabled")) {
            unsigned char flag = 0;
            int result = 0;
            try {
                result = isSpeechEnabled(&flag);
            } catch (...) {
                result = 0;
            }
            // A failing engine stays silent even if it set the flag before failing.
            if (result > 0)
                FSpeechEnabled = flag != 0;
            else
                Report(MakeError());
        }
    }
}

TSpeechDll::~TSpeechDll() {
    if (FLoaded) {
        LibHandle.reset();
        FLoaded = false;
        FInitialized = false;
    }
}

void TSpeechDll::SpeakText(const std::string& text) {
    if (!FLoaded || !FInitialized || !FSpeechEnabled)
        return;
    auto speak = Proc<TMurmurSpeak>("Speak");
    if (!speak)
        return;
    int result = 0;
    try {
        result = speak(text.c_str());
    } catch (...) {
        result = 0;
    }
    if (result <= 0)
        throw MakeError();
}

std::string TSpeechDll::DefaultLibraryPath() {
    return ExtractFilePath(ExecutablePath()) + "../lib/pellora/libmurmur.so";
}

template <typename TProc> TProc TSpeechDll::Proc(const char* name) const {
    if (!LibHandle)
        return nullptr;
    return reinterpret_cast<TProc>(::dlsym(LibHandle.get(), name));
}

ESpeech TSpeechDll::MakeError() {
    const char* text = nullptr;
    if (auto getExceptionText = Proc<TMurmurGetExceptionText>("GetExceptionText")) {
        try {
            text = getExceptionText();
        } catch (...) {
            text = nullptr;
        }
    }
    // An empty text tells no more than a missing one.
    FLastError = text != nullptr && *text != '\0' ? std::string(text) : MurmurNoErrorInfoText;
    return ESpeech(MurmurErrorPrefix + FLastError);
}

void TSpeechDll::TCloser::operator()(void* handle) const {
    ::dlclose(handle);
}

void TSpeechDll::Report(const ESpeech& error) const {
    if (OnError)
        OnError(error);
    else
        std::fprintf(stderr, "%s\n", error.what());
}

TSpeechStart StartSpeechEngine(const std::string& libraryPath,
                               std::unique_ptr<TSpeechDll>& engine) {
    // Shared with the handlers, which the engine keeps.
    auto reason = std::make_shared<std::string>();
    auto failed = std::make_shared<bool>(false);
    engine = std::make_unique<TSpeechDll>(
        true, libraryPath,
        [reason, libraryPath](const std::string& text) {
            *reason = text + " (speech engine " + libraryPath + ")";
        },
        [failed](const ESpeech&) { *failed = true; });
    TSpeechStart start;
    if (!engine->Loaded()) {
        start.Reason = engine->LoadError();
        return start;
    }
    if (reason->empty() && *failed)
        *reason = engine->LastError();
    if (!reason->empty()) {
        start.Outcome = TSpeechStart::Fails;
        start.Reason = *reason;
    } else {
        start.Outcome = engine->SpeechEnabled() ? TSpeechStart::Speaks : TSpeechStart::SwitchedOff;
    }
    return start;
}

void TSpeechDll::Warn(const std::string& text) const {
    if (OnWarning)
        OnWarning(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace pellora
