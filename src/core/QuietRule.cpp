#include "core/QuietRule.h"

#include "core/Settings.h"
#include "core/TimeCheck.h"
#include "platform/IniFile.h"

#include <algorithm>

namespace pellora {

TQuietSettings TQuietSettings::Load(const IniFile& prefs) {
    TQuietSettings settings;
    settings.Fullscreen = ReadKey(prefs, keys::QuietFullscreen);
    settings.Presentations = ReadKey(prefs, keys::QuietPresentations);
    settings.DoNotDisturb = ReadKey(prefs, keys::QuietDoNotDisturb);
    settings.PauseWhenAway = ReadKey(prefs, keys::PauseWhenAway);
    settings.AwayMinutes = std::max(ReadKey(prefs, keys::AwayMinutes), 1);
    return settings;
}

TReminderState TReminderState::Load(const std::string& stateFile) {
    const IniFile file(stateFile);
    TReminderState state;
    // A number that means nothing here (below -1) is no pause.
    const std::int64_t until = ReadKey(file, keys::PausedUntil);
    state.PausedUntil = until < UntilResumed ? 0 : until;
    state.SoundMuted = ReadKey(file, keys::MuteSound);
    state.SpeechMuted = ReadKey(file, keys::MuteSpeech);
    return state;
}

void TReminderState::Save(const std::string& stateFile) const {
    IniFile(stateFile).Update([this](IniBatch& file) {
        file.WriteString(keys::PausedUntil.Section, keys::PausedUntil.Name,
                         std::to_string(PausedUntil));
        file.WriteBool(keys::MuteSound.Section, keys::MuteSound.Name, SoundMuted);
        file.WriteBool(keys::MuteSpeech.Section, keys::MuteSpeech.Name, SpeechMuted);
    });
}

void TQuietRule::SetSettings(const TQuietSettings& settings, std::int64_t wallMs) {
    Quiet = settings;
    NoteDesktopReason(wallMs);
}

void TQuietRule::SetFacts(const TQuietFacts& facts, std::int64_t wallMs) {
    Known = facts;
    NoteDesktopReason(wallMs);
}

void TQuietRule::NoteDesktopReason(std::int64_t wallMs) {
    const TQuietReason reason = DesktopReason();
    if (reason == LastDesktopReason)
        return;
    LastDesktopReason = reason;
    DesktopSince = reason == TQuietReason::None ? 0 : wallMs;
    // Quiet again before a held reminder was released: its few seconds start over later.
    if (reason != TQuietReason::None)
        ReleaseTick = 0;
}

void TQuietRule::SetPausedUntil(std::int64_t utcSeconds) {
    PausedUntil = utcSeconds;
    // Whenever the pause ends, the interval starts afresh then.
    if (utcSeconds != 0)
        WasOff = true;
}

TQuietReason TQuietRule::DesktopReason() const {
    // A locked screen is always quiet: nobody could see the reminder.
    if (Known.Locked)
        return TQuietReason::Locked;
    if (Known.Away && Quiet.PauseWhenAway)
        return TQuietReason::Away;
    if (Known.Fullscreen && Quiet.Fullscreen)
        return TQuietReason::Fullscreen;
    if (Known.Presentation && Quiet.Presentations)
        return TQuietReason::Presentation;
    if (Known.DoNotDisturb && Quiet.DoNotDisturb)
        return TQuietReason::DoNotDisturb;
    return TQuietReason::None;
}

bool TQuietRule::PauseEnded(std::int64_t wallMs) const {
    return PausedUntil > 0 && wallMs >= PausedUntil * 1000;
}

bool TQuietRule::Off(std::int64_t wallMs) const {
    const bool paused =
        PausedUntil == TReminderState::UntilResumed || (PausedUntil > 0 && !PauseEnded(wallMs));
    return paused || !Hours.IsActive(wallMs);
}

TQuietReason TQuietRule::Reason(std::int64_t wallMs) const {
    if (PausedUntil == TReminderState::UntilResumed || (PausedUntil > 0 && !PauseEnded(wallMs)))
        return TQuietReason::Paused;
    if (!Hours.IsActive(wallMs))
        return TQuietReason::OffHours;
    return DesktopReason();
}

std::int64_t TQuietRule::OffUntil(std::int64_t wallMs) const {
    switch (Reason(wallMs)) {
    case TQuietReason::Paused:
        if (PausedUntil == TReminderState::UntilResumed)
            return 0;
        // The pause may end outside the active hours.
        return Hours.ActiveFrom(PausedUntil * 1000);
    case TQuietReason::OffHours:
        return Hours.NextStart(wallMs);
    default:
        return 0;
    }
}

TQuietRule::TStep TQuietRule::Check(std::int64_t tick, std::int64_t wallMs) {
    if (Off(wallMs)) {
        // Nothing missed while off is made up for.
        WasOff = true;
        HeldBack = false;
        ReleaseTick = 0;
        return TStep::Wait;
    }
    if (WasOff) {
        WasOff = false;
        Timer.Reset();
        return TStep::Wait;
    }
    const bool quiet = DesktopReason() != TQuietReason::None;
    if (!HeldBack) {
        if (!Timer.IsDue())
            return TStep::Wait;
        if (!quiet)
            return TStep::Show;
        HeldBack = true;
    }
    if (quiet) {
        ReleaseTick = 0;
        return TStep::Wait;
    }
    if (ReleaseTick == 0)
        ReleaseTick = tick + ReleaseDelayMs;
    return tick >= ReleaseTick ? TStep::Show : TStep::Wait;
}

void TQuietRule::Shown() {
    HeldBack = false;
    ReleaseTick = 0;
    Timer.Reset();
}

bool TQuietRule::WouldShow(std::int64_t tick, std::int64_t wallMs) const {
    if (Off(wallMs) || WasOff || DesktopReason() != TQuietReason::None)
        return false;
    return HeldBack ? ReleaseTick != 0 && tick >= ReleaseTick : Timer.IsDue();
}

std::int64_t TQuietRule::NextCheckIn(std::int64_t tick, std::int64_t wallMs) const {
    std::int64_t wait = -1;
    auto consider = [&wait](std::int64_t ms) {
        ms = std::max<std::int64_t>(ms, 0);
        if (wait < 0 || ms < wait)
            wait = ms;
    };
    // The active hours begin or end; a pause with an end runs out.
    if (const std::int64_t change = Hours.NextChange(wallMs); change != 0)
        consider(change - wallMs);
    if (PausedUntil > 0 && !PauseEnded(wallMs))
        consider(PausedUntil * 1000 - wallMs);
    if (Off(wallMs))
        return wait;
    if (WasOff)
        return 0;
    if (!HeldBack)
        consider(Timer.MillisecondsToDue());
    else if (DesktopReason() == TQuietReason::None)
        consider(ReleaseTick == 0 ? 0 : ReleaseTick - tick);
    return wait;
}

std::int64_t TQuietRule::NextReminder(std::int64_t wallMs) const {
    if (Off(wallMs) || WasOff || HeldBack)
        return 0;
    return wallMs + Timer.MillisecondsToDue();
}

} // namespace pellora
