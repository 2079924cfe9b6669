#include "MurmurSettings.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace pellora {

namespace {

constexpr const char* Section = "Murmur";

const char* const DefaultLines[] = {
    "; Speech settings of Pellora. They are read when Pellora starts.",
    "[Murmur]",
    "; 1 speaks the reminders, 0 keeps quiet",
    "Enabled=1",
    "; an espeak-ng voice such as en, en-us, de or fr; empty: the language of the desktop",
    "Voice=",
    "; words per minute, 80 to 450",
    "Rate=175",
    "; loudness, 0 to 200",
    "Volume=100",
    "; Device plays through the sound system, Memory synthesises without playing,",
    "; File writes each message to WaveFile (empty: Murmur.wav beside this file)",
    "Output=Device",
    "WaveFile=",
    "; when set, a short report of each message spoken is written to this file",
    "StatusFile=",
};

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/tmp";
}

void WriteDefaults(const std::string& fileName) {
    std::vector<std::string> lines(std::begin(DefaultLines), std::end(DefaultLines));
    try {
        WriteTextLines(fileName, lines);
    } catch (const EFileError&) {
        // A read-only configuration folder only costs the user the commented example.
    }
}

} // namespace

bool IsVoiceName(std::string_view name) {
    if (name.empty() || name.size() > MurmurVoiceNameMaximum)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '+';
    });
}

std::string MurmurSettingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder =
        config && config[0] == '/' ? std::string(config) : HomeFolder() + "/.config";
    return AddTrailingSlash(folder) + "Harbrook/Pellora 3/Murmur.ini";
}

TMurmurSettings LoadMurmurSettings(const std::string& fileName) {
    if (!PathExists(fileName))
        WriteDefaults(fileName);
    IniFile ini(fileName);
    TMurmurSettings settings;
    settings.FileName = fileName;
    settings.Enabled = ini.ReadBool(Section, "Enabled", true);
    settings.Voice = Trim(ini.ReadString(Section, "Voice", ""));
    if (!settings.Voice.empty() && !IsVoiceName(settings.Voice))
        settings.Problem = Format("The voice name \"%s\" in %s is not valid.",
                                  settings.Voice.c_str(), fileName.c_str());
    settings.Rate =
        std::clamp(ini.ReadInteger(Section, "Rate", 175), MurmurRateMinimum, MurmurRateMaximum);
    settings.Volume = std::clamp(ini.ReadInteger(Section, "Volume", 100), 0, MurmurVolumeMaximum);
    std::string output = Trim(ini.ReadString(Section, "Output", "Device"));
    if (output.empty() || SameText(output, "Device"))
        settings.Output = TMurmurOutput::Device;
    else if (SameText(output, "Memory"))
        settings.Output = TMurmurOutput::Memory;
    else if (SameText(output, "File"))
        settings.Output = TMurmurOutput::File;
    else
        settings.Problem = Format("The speech output \"%s\" is unknown; set Output to Device, "
                                  "Memory or File in %s.",
                                  output.c_str(), fileName.c_str());
    settings.WaveFile = Trim(ini.ReadString(Section, "WaveFile", ""));
    if (settings.WaveFile.empty())
        settings.WaveFile = ExtractFilePath(fileName) + "Murmur.wav";
    settings.StatusFile = Trim(ini.ReadString(Section, "StatusFile", ""));
    return settings;
}

std::string DesktopVoice() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value)
            continue;
        std::string locale = value;
        std::string language = LowerCaseAscii(locale.substr(0, locale.find_first_of("_.@")));
        // Anything but a plain language code (C, POSIX, odd values) gets the default.
        bool plain = language.size() >= 2 && language.size() <= 3 &&
                     std::all_of(language.begin(), language.end(),
                                 [](char c) { return c >= 'a' && c <= 'z'; });
        return plain ? language : "en";
    }
    return "en";
}

} // namespace pellora
