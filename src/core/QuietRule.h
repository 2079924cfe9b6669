#pragma once

#include "core/ActiveHours.h"
#include "core/QuietFacts.h"

#include <cstdint>
#include <string>

namespace pellora {

class IniFile;
class TTimeCheck;

// Why reminders are held back now, most telling first.
enum class TQuietReason {
    None,
    Paused,       // the user paused them
    OffHours,     // outside the active hours
    Locked,       // the screen is locked
    Away,         // no input for a while
    Fullscreen,   // the active window is fullscreen
    Presentation, // a presentation, video or call keeps the desktop awake
    DoNotDisturb, // the desktop's do-not-disturb
};

// Which of the desktop's facts the user wants reminders to be quiet for.
struct TQuietSettings {
    bool Fullscreen = true;
    bool Presentations = true;
    bool DoNotDisturb = true;
    bool PauseWhenAway = true;
    std::int32_t AwayMinutes = 5; // at least 1

    // From section "Reminders" of the preferences file.
    static TQuietSettings Load(const IniFile& prefs);
    bool operator==(const TQuietSettings&) const = default;
};

// What the user chose from the menu, kept in the state file.
struct TReminderState {
    static constexpr std::int64_t UntilResumed = -1;
    // 0: not paused; UntilResumed; else the end, in seconds since 1970 (UTC).
    std::int64_t PausedUntil = 0;
    bool SoundMuted = false;
    bool SpeechMuted = false;

    static TReminderState Load(const std::string& stateFile);
    // One atomic replace of the file.
    void Save(const std::string& stateFile) const;
    bool operator==(const TReminderState&) const = default;
};

// When a reminder shows. The interval counts on the uptime clock (TTimeCheck); a pause and
// the active hours are wall-clock moments; the desktop's facts make it quiet. A reminder that
// falls due while quiet is held back and shown once, shortly after the quiet ends; after a
// pause, outside the active hours, or a long sleep, nothing is made up for: at most one
// reminder, then the interval starts afresh.
class TQuietRule {
public:
    // How long the quiet must have ended before a held reminder shows: leaving one
    // fullscreen window for another passes a moment that is not quiet.
    static constexpr std::int64_t ReleaseDelayMs = 3000;

    enum class TStep { Wait, Show };

    explicit TQuietRule(TTimeCheck& timer) : Timer(timer) {}

    // `wallMs` is now: the moment a reason they bring began.
    void SetSettings(const TQuietSettings& settings, std::int64_t wallMs);
    void SetFacts(const TQuietFacts& facts, std::int64_t wallMs);
    void SetHours(const TActiveHours& hours) { Hours = hours; }
    // 0: no pause; TReminderState::UntilResumed; else the end in seconds since 1970 (UTC).
    void SetPausedUntil(std::int64_t utcSeconds);

    const TQuietSettings& Settings() const { return Quiet; }
    const TQuietFacts& Facts() const { return Known; }
    const TActiveHours& ActiveHours() const { return Hours; }
    std::int64_t PausedUntilSeconds() const { return PausedUntil; }

    // Why reminders are held back at this moment of the wall clock.
    TQuietReason Reason(std::int64_t wallMs) const;
    // Since when the desktop's reason holds (wall ms); 0 when none does.
    std::int64_t QuietSince() const { return DesktopSince; }
    // Whether the pause has run out at this moment (the caller forgets it then).
    bool PauseEnded(std::int64_t wallMs) const;
    // The moment the current pause or off-hours end (wall ms); 0 when unknown or not off.
    std::int64_t OffUntil(std::int64_t wallMs) const;
    // Whether a due reminder waits for the quiet to end.
    bool Held() const { return HeldBack; }

    // Asked whenever something changed or the moment NextCheckIn named has come.
    TStep Check(std::int64_t tick, std::int64_t wallMs);
    // The reminder was shown: the interval starts afresh.
    void Shown();
    // Whether Check would show a reminder now were the facts as they are (the caller asks
    // the desktop for fresh facts first, where that costs something).
    bool WouldShow(std::int64_t tick, std::int64_t wallMs) const;
    // Milliseconds until Check must be asked again; -1 when only a change of the facts, the
    // settings or the pause can bring the next reminder.
    std::int64_t NextCheckIn(std::int64_t tick, std::int64_t wallMs) const;
    // The wall-clock moment the next reminder is planned for; 0 when none is (paused, off,
    // or held back while quiet).
    std::int64_t NextReminder(std::int64_t wallMs) const;

private:
    TQuietReason DesktopReason() const;
    void NoteDesktopReason(std::int64_t wallMs);
    bool Off(std::int64_t wallMs) const;

    TTimeCheck& Timer;
    TQuietSettings Quiet;
    TQuietFacts Known;
    TActiveHours Hours;
    std::int64_t PausedUntil = 0;
    std::int64_t DesktopSince = 0;
    TQuietReason LastDesktopReason = TQuietReason::None;
    bool WasOff = false;
    bool HeldBack = false;
    std::int64_t ReleaseTick = 0; // when a held reminder may show; 0: not yet known
};

} // namespace pellora
