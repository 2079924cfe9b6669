#pragma once

#include <string>
#include <string_view>

namespace pellora {

enum class TMurmurOutput {
    Device, // espeak-ng plays through the sound system
    Memory, // synthesised samples stay in memory and are dropped
    File,   // every message replaces a WAV file
};

// The engine's own settings, kept in an ini file of its own (section "Murmur").
struct TMurmurSettings {
    bool Enabled = true;
    std::string Voice; // espeak-ng voice name; empty: the desktop's language
    int Rate = 175;    // words per minute
    int Volume = 100;  // 0..200
    TMurmurOutput Output = TMurmurOutput::Device;
    std::string WaveFile;   // for File output; never empty after loading
    std::string StatusFile; // report of the last message; empty: none
    std::string FileName;   // where these settings came from
    // A setting that cannot be used, as a text for the user; empty when all are usable.
    std::string Problem;
};

inline constexpr int MurmurRateMinimum = 80;
inline constexpr int MurmurRateMaximum = 450;
inline constexpr int MurmurVolumeMaximum = 200;
inline constexpr std::size_t MurmurVoiceNameMaximum = 40;

// $XDG_CONFIG_HOME/Harbrook/Pellora 3/Murmur.ini ($HOME/.config when the variable is unset
// or not an absolute path).
std::string MurmurSettingsFile();

// Reads the file; a missing file is first written with the defaults so the user finds every
// key. Numbers out of range are clamped; an unknown output kind is a Problem.
TMurmurSettings LoadMurmurSettings(const std::string& fileName);

// Letters, digits, '-', '_' and '+' only ("en-us", "de+f2"): the engine looks voices up as
// files, so a name must never reach it as a path.
bool IsVoiceName(std::string_view name);

// The voice for an empty Voice setting: the language of LC_ALL, LC_MESSAGES or LANG ("de"
// for "de_DE.UTF-8"), "en" when there is none or it is C/POSIX.
std::string DesktopVoice();

} // namespace pellora
