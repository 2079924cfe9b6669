#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace pellora {

// Every key of the preferences and state files, with the default its readers apply.
// Readers differ on some defaults, so a key can appear once per reader.

struct BoolKey {
    const char* Section;
    const char* Name;
    bool Default;
};

struct IntKey {
    const char* Section;
    const char* Name;
    std::int32_t Default;
};

// An integer key whose values outgrew 32 bits. Whatever the 32-bit reading took is read the
// same ("0xFFFFFFFF" is still -1); beyond it, decimal numbers and "0x" with up to 16
// hexadecimal digits read as 64-bit values.
struct Int64Key {
    const char* Section;
    const char* Name;
    std::int64_t Default;
};

struct StringKey {
    const char* Section;
    const char* Name;
    const char* Default;
};

inline bool ReadKey(const IniFile& file, const BoolKey& key) {
    return file.ReadBool(key.Section, key.Name, key.Default);
}
inline std::int32_t ReadKey(const IniFile& file, const IntKey& key) {
    return file.ReadInteger(key.Section, key.Name, key.Default);
}
std::int64_t ReadKey(const IniFile& file, const Int64Key& key);
inline std::string ReadKey(const IniFile& file, const StringKey& key) {
    return file.ReadString(key.Section, key.Name, key.Default);
}
inline void WriteKey(IniFile& file, const BoolKey& key, bool value) {
    file.WriteBool(key.Section, key.Name, value);
}
inline void WriteKey(IniFile& file, const IntKey& key, std::int32_t value) {
    file.WriteInteger(key.Section, key.Name, value);
}
void WriteKey(IniFile& file, const Int64Key& key, std::int64_t value);
inline void WriteKey(IniFile& file, const StringKey& key, std::string_view value) {
    file.WriteString(key.Section, key.Name, value);
}

namespace keys {

// Preferences file.
inline constexpr BoolKey Random{"Timer", "Random", false};
inline constexpr IntKey FixedInterval{"Timer", "Fixed Interval", 5};
// The reminder timer's own bounds.
inline constexpr IntKey MinimumInterval{"Timer", "Minimum Interval", 5};
inline constexpr IntKey MaximumInterval{"Timer", "Maximum Interval", 20};
// What the preferences dialog shows when the bounds are missing.
inline constexpr IntKey DialogMinimumInterval{"Timer", "Minimum Interval", 15};
inline constexpr IntKey DialogMaximumInterval{"Timer", "Maximum Interval", 25};

inline constexpr BoolKey Sound{"Sound", "Sound", false};
inline constexpr BoolKey Speech{"Sound", "Speach", true};

inline constexpr BoolKey Proxy{"Internet", "Proxy", false};
inline constexpr StringKey ProxyAddress{"Internet", "Proxy Address", ""};
// Without a configured server the exchange stays on this machine.
inline constexpr StringKey PelloraExchange{"Internet", "Pellora Exchange",
                                           "http://localhost/cgi-bin/pellora/"};
// Ids handed out today take 63 bits; older ones, still stored, fit in 31.
inline constexpr Int64Key AccessId{"Internet", "Access id", 0};
// Last-Modified value of the last download of one language's library (empty: none yet).
// The key is "Last-Modified for messages-" + the code, e.g. "Last-Modified for messages-EN".
std::string LastModifiedKeyName(std::string_view code);
std::string ReadLastModified(const IniFile& file, std::string_view code);
void WriteLastModified(IniFile& file, std::string_view code, std::string_view value);

// Slash, one character a group ("T" = checked), slash: only the first group checked.
inline constexpr StringKey CheckedGroups{"Groups", "Checked Groups", "/T   /"};
inline constexpr IntKey ActiveGroup{"Groups", "Active Group", 1};
inline constexpr IntKey LastOwnId{"Groups", "Last Own ID", 0};

// How reminders behave towards what the user is doing, in a section of their own: each
// quiet source can be switched off, and the screen a reminder appears on chosen.
inline constexpr BoolKey QuietFullscreen{"Reminders", "Quiet Fullscreen", true};
inline constexpr BoolKey QuietPresentations{"Reminders", "Quiet Presentations", true};
inline constexpr BoolKey QuietDoNotDisturb{"Reminders", "Quiet Do Not Disturb", true};
inline constexpr BoolKey PauseWhenAway{"Reminders", "Pause When Away", true};
inline constexpr IntKey AwayMinutes{"Reminders", "Away Minutes", 5};
// "pointer" (the screen with the mouse pointer), "strip" or "primary".
inline constexpr StringKey ReminderScreen{"Reminders", "Screen", "pointer"};

// The days and hours at which reminders may come are in section "Active Hours", see
// core/ActiveHours.h.

// State file: what the user chose from the strip's menu, kept across a restart.
// "Paused Until": 0 not paused, -1 until resumed, else the end in seconds since 1970 (UTC).
inline constexpr Int64Key PausedUntil{"Reminders", "Paused Until", 0};
inline constexpr BoolKey MuteSound{"Reminders", "Mute Sound", false};
inline constexpr BoolKey MuteSpeech{"Reminders", "Mute Speech", false};

// State file; the section is "Main" followed by the screen size, see StateSection.
inline constexpr const char* LeftName = "Left";
inline constexpr const char* TopName = "Top";
inline constexpr const char* SkinName = "Skin";
inline constexpr const char* DefaultSkin = "Harbrook";
inline constexpr std::int32_t DefaultTop = 0;

} // namespace keys

// "%dx%d" of the screen's width and height, e.g. "1024x768".
std::string ScreenSizeText(int width, int height);
// "Main" + ScreenSizeText: each screen size keeps its own window position.
std::string StateSection(int width, int height);
// Default left edge of the status window: near the right edge of the screen.
int DefaultLeft(int screenWidth, int windowWidth);

// Window position and skin kept in the state file per screen size.
struct WindowState {
    int Left;
    int Top;
    std::string Skin;
};
WindowState ReadWindowState(const std::string& stateFile, int screenWidth, int screenHeight,
                            int windowWidth);
// Writes "Left", "Top" and "Skin" in that order, in one atomic replace of the file.
void WriteWindowState(const std::string& stateFile, int screenWidth, int screenHeight,
                      const WindowState& state);

} // namespace pellora
