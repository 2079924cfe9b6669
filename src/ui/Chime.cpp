#include "ui/Chime.h"

#include <cstdio>
#include <dlfcn.h>

namespace pellora {

TChime::TChime(std::string module) : Module(std::move(module)) {}

TChime::~TChime() {
    if (Sound != nullptr)
        Close(Sound);
    // The module stays loaded: sound systems do not like being unloaded.
}

bool TChime::Load() {
    if (Tried)
        return Library != nullptr;
    Tried = true;
    void* library = ::dlopen(Module.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* why = ::dlerror();
        Error = why != nullptr ? why : Module;
    } else {
        Open = reinterpret_cast<TChimeOpen>(::dlsym(library, "ChimeOpen"));
        Start = reinterpret_cast<TChimePlay>(::dlsym(library, "ChimePlay"));
        Close = reinterpret_cast<TChimeClose>(::dlsym(library, "ChimeClose"));
        if (Open == nullptr || Start == nullptr || Close == nullptr)
            Error = "The chime module " + Module + " lacks its calls.";
        else
            Library = library;
    }
    if (!Error.empty())
        std::fprintf(stderr, "pellora: the chime stays silent: %s\n", Error.c_str());
    return Library != nullptr;
}

void TChime::Play(const std::string& soundFile) {
    if (!Load())
        return;
    if (Sound != nullptr && soundFile != SoundFile) {
        Close(Sound);
        Sound = nullptr;
    }
    if (Sound == nullptr) {
        Sound = Open(soundFile.c_str());
        SoundFile = soundFile;
    }
    if (Sound != nullptr)
        Start(Sound);
}

} // namespace pellora
