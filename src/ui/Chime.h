#pragma once

#include <string>

namespace pellora {

// The calls of the chime module, looked up by these names: "ChimeOpen", "ChimePlay",
// "ChimeClose" (chime/ChimeModule.h).
using TChimeOpen = void* (*)(const char* soundFile);
using TChimePlay = void (*)(void* chime);
using TChimeClose = void (*)(void* chime);

// The chime module's file, among the program's private libraries.
inline constexpr const char* ChimeModuleName = "libpellora-chime.so";

// The alert sound. The sound system (Qt Multimedia and its audio back ends) lives in a small
// module loaded at the first chime, so a program whose chime is off never carries it.
class TChime {
public:
    explicit TChime(std::string module);
    ~TChime();
    TChime(const TChime&) = delete;
    TChime& operator=(const TChime&) = delete;

    // Plays the sound file from its start, cutting short the chime before; returns at once.
    // Without its module it stays silent, and says why on stderr once.
    void Play(const std::string& soundFile);

    bool Loaded() const { return Library != nullptr; }
    // Why the module could not be loaded; empty when it was, or has not been tried.
    const std::string& LoadError() const { return Error; }

private:
    bool Load();

    const std::string Module;
    bool Tried = false;
    void* Library = nullptr;
    std::string Error;
    TChimeOpen Open = nullptr;
    TChimePlay Start = nullptr;
    TChimeClose Close = nullptr;
    void* Sound = nullptr;
    std::string SoundFile;
};

} // namespace pellora
