#pragma once

#include "core/QuietRule.h"
#include "core/TimeCheck.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace pellora {

class TQuietSources;

// When reminders come, and what the user chose about them: pause, mute, and a reminder
// now. The strip's menu calls it, and so can anything else that controls the running
// program. It wakes only when something is to happen: one timer, armed for the next due
// moment, the end of a pause or the next change of the active hours, and re-armed whenever
// the facts, the settings or the clock change.
class TReminderControl : public QObject {
    Q_OBJECT
public:
    // Reads the interval, the quiet settings and the active hours from the preferences file
    // and the pause and mutes from the state file. `sources` (may be null) tells the
    // desktop's facts; it must outlive the control.
    TReminderControl(std::string prefsFile, std::string stateFile, TQuietSources* sources,
                     QObject* parent = nullptr);
    ~TReminderControl() override;

    // Pauses automatic reminders for so many seconds (0: until resumed). A negative number is
    // refused (EPelloraError).
    void Pause(std::int64_t seconds);
    void Resume();
    // A reminder now, paused or quiet or not: the user asked for it. The interval runs on.
    void ShowNow();
    void SetMuted(bool sound, bool speech);

    // 0: not paused; -1: until resumed; else the end in seconds since 1970 (UTC).
    std::int64_t PausedUntil() const { return State.PausedUntil; }
    // Why no reminder comes now, in the user's words ("Quiet while a window is fullscreen
    // since 14:05", "Paused until 15:30", "Off until Mon 09:00"); empty when they come.
    QString QuietReason() const;
    // When the next reminder is planned, in seconds since 1970 (UTC); 0 when none is.
    std::int64_t NextReminder() const;
    bool SoundMuted() const { return State.SoundMuted; }
    bool SpeechMuted() const { return State.SpeechMuted; }

    // What the strip shows: the reason as a kind, and every line of its status.
    TQuietReason Reason() const;
    QStringList StatusLines() const;

    // For the strip: no automatic reminders while a dialog opens, until Start; Start looks
    // at once whether one is due.
    void Stop();
    void Start();
    bool Stopped() const { return Halted; }
    // The preferences changed: reads them again and starts the interval afresh.
    void Reload();
    // Looks again at the clocks and the facts: shows what is due and re-arms the timer.
    void Evaluate();

    TTimeCheck& TimeCheck() { return Timer; }
    const TQuietRule& Rule() const { return Quiet; }
    // The one timer; inactive when nothing but a change can bring the next reminder.
    const QTimer& WakeTimer() const { return Wake; }
    // Lines of the active hours that could not be read at the last reading, for the user.
    const std::vector<std::string>& HoursProblems() const { return BadHours; }

    // "15:30" today, "Tue 08:00" on another day: how the status names a moment.
    static QString MomentText(std::int64_t wallMs, std::int64_t nowMs);

signals:
    // Something the user sees changed: the pause, the mutes, the reason, the next reminder.
    void StatusChanged();
    // A reminder is to be shown now; `timed` when it fell due rather than was asked for.
    void ShowReminder(bool timed);

private:
    void ReadPreferences();
    void Store();
    void Arm();
    void FactsChanged();
    void WatchClock();
    QString ReasonText(TQuietReason reason, std::int64_t now) const;

    std::string PrefsFile;
    std::string StateFile;
    TQuietSources* Sources;
    TTimeCheck Timer;
    TQuietRule Quiet;
    TReminderState State;
    std::vector<std::string> BadHours;
    QTimer Wake;
    int ClockFd = -1;
    QSocketNotifier* ClockNotifier = nullptr;
    bool Halted = false;
    bool Evaluating = false;
    // What StatusChanged last told, to tell only changes.
    QStringList ToldStatus;
};

} // namespace pellora
