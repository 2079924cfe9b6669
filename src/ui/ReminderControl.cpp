#include "ui/ReminderControl.h"

#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "ui/QuietSources.h"

#include <QDateTime>
#include <QLocale>
#include <QSocketNotifier>
#include <chrono>
#include <climits>
#include <unistd.h>

namespace pellora {

TReminderControl::TReminderControl(std::string prefsFile, std::string stateFile,
                                   TQuietSources* sources, QObject* parent)
    : QObject(parent), PrefsFile(std::move(prefsFile)), StateFile(std::move(stateFile)),
      Sources(sources), Timer(PrefsFile), Quiet(Timer) {
    // Precise: a coarse timer may be late by a twentieth of its interval, a quarter of a
    // minute for a 5-minute one.
    Wake.setSingleShot(true);
    Wake.setTimerType(Qt::PreciseTimer);
    connect(&Wake, &QTimer::timeout, this, &TReminderControl::Evaluate);
    State = TReminderState::Load(StateFile);
    Quiet.SetPausedUntil(State.PausedUntil);
    ReadPreferences();
    if (Sources != nullptr) {
        Quiet.SetFacts(Sources->Facts(), GetWallClockMs());
        connect(Sources, &TQuietSources::FactsChanged, this, &TReminderControl::FactsChanged);
        // Nothing missed while asleep is made up for: the rule shows at most one.
        connect(Sources, &TQuietSources::Resumed, this, &TReminderControl::Evaluate);
    }
    WatchClock();
    Timer.Reset();
    Evaluate();
}

TReminderControl::~TReminderControl() {
    delete ClockNotifier;
    if (ClockFd >= 0)
        ::close(ClockFd);
}

void TReminderControl::WatchClock() {
    // A clock set by hand or by the network, or the jump after a resume, moves the pause's
    // end and the active hours on the clock: look again then.
    ClockFd = OpenClockWatch();
    if (ClockFd < 0)
        return;
    ClockNotifier = new QSocketNotifier(ClockFd, QSocketNotifier::Read);
    connect(ClockNotifier, &QSocketNotifier::activated, this, [this] {
        RearmClockWatch(ClockFd);
        Evaluate();
    });
}

void TReminderControl::ReadPreferences() {
    const IniFile prefs(PrefsFile);
    const TQuietSettings settings = TQuietSettings::Load(prefs);
    Quiet.SetSettings(settings, GetWallClockMs());
    BadHours.clear();
    Quiet.SetHours(TActiveHours::Load(prefs, &BadHours));
    if (Sources != nullptr)
        Sources->SetAwayThreshold(settings.PauseWhenAway
                                      ? std::chrono::minutes(settings.AwayMinutes)
                                      : std::chrono::milliseconds(0));
}

void TReminderControl::Reload() {
    Timer.Reload(PrefsFile);
    ReadPreferences();
    Timer.Reset();
    Evaluate();
}

void TReminderControl::Store() {
    State.Save(StateFile);
}

void TReminderControl::Pause(std::int64_t seconds) {
    if (seconds < 0)
        throw EPelloraError(tr("A pause cannot last %1 seconds.").arg(seconds).toStdString());
    State.PausedUntil =
        seconds == 0 ? TReminderState::UntilResumed : GetWallClockMs() / 1000 + seconds;
    Quiet.SetPausedUntil(State.PausedUntil);
    Store();
    Evaluate();
}

void TReminderControl::Resume() {
    State.PausedUntil = 0;
    Quiet.SetPausedUntil(0);
    Store();
    Evaluate();
}

void TReminderControl::ShowNow() {
    emit ShowReminder(false);
}

void TReminderControl::SetMuted(bool sound, bool speech) {
    if (State.SoundMuted == sound && State.SpeechMuted == speech)
        return;
    State.SoundMuted = sound;
    State.SpeechMuted = speech;
    Store();
    Evaluate();
}

void TReminderControl::Stop() {
    Halted = true;
    Wake.stop();
}

void TReminderControl::Start() {
    Halted = false;
    Evaluate();
}

void TReminderControl::FactsChanged() {
    Quiet.SetFacts(Sources->Facts(), GetWallClockMs());
    // Inside Evaluate, the fresh facts are for the check under way.
    if (!Evaluating)
        Evaluate();
}

void TReminderControl::Evaluate() {
    if (Evaluating)
        return;
    Evaluating = true;
    struct EndEvaluation {
        TReminderControl& Control;
        ~EndEvaluation() {
            Control.Evaluating = false;
            Control.Arm();
        }
    } end{*this};
    std::int64_t wall = GetWallClockMs();
    if (Quiet.PauseEnded(wall)) {
        State.PausedUntil = 0;
        Quiet.SetPausedUntil(0);
        Store();
    }
    if (Halted)
        return;
    if (Sources != nullptr && Quiet.WouldShow(GetTickCount64(), wall)) {
        // Whether the user is away is worth asking only now.
        Sources->CheckAway();
        wall = GetWallClockMs();
    }
    if (Quiet.Check(GetTickCount64(), wall) != TQuietRule::TStep::Show)
        return;
    // The next due moment is drawn even when showing fails, or the same reminder would be
    // due again at once.
    struct DrawNext {
        TQuietRule& Rule;
        ~DrawNext() { Rule.Shown(); }
    } drawNext{Quiet};
    emit ShowReminder(true);
}

void TReminderControl::Arm() {
    if (!Halted) {
        const std::int64_t wait = Quiet.NextCheckIn(GetTickCount64(), GetWallClockMs());
        if (wait < 0)
            Wake.stop();
        else
            Wake.start(static_cast<int>(std::min<std::int64_t>(wait, INT_MAX)));
    }
    QStringList status = StatusLines();
    status << QString::number(NextReminder()) << QString::number(State.PausedUntil);
    if (status != ToldStatus) {
        ToldStatus = status;
        emit StatusChanged();
    }
}

TQuietReason TReminderControl::Reason() const {
    return Quiet.Reason(GetWallClockMs());
}

std::int64_t TReminderControl::NextReminder() const {
    if (Halted)
        return 0;
    return Quiet.NextReminder(GetWallClockMs()) / 1000;
}

QString TReminderControl::MomentText(std::int64_t wallMs, std::int64_t nowMs) {
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(wallMs);
    const bool today = moment.date() == QDateTime::fromMSecsSinceEpoch(nowMs).date();
    return QLocale().toString(moment,
                              today ? QStringLiteral("HH:mm") : QStringLiteral("ddd HH:mm"));
}

QString TReminderControl::ReasonText(TQuietReason reason, std::int64_t now) const {
    const QString since = MomentText(Quiet.QuietSince(), now);
    switch (reason) {
    case TQuietReason::None:
        return {};
    case TQuietReason::Paused:
        if (State.PausedUntil == TReminderState::UntilResumed)
            return tr("Paused until you resume");
        return tr("Paused until %1").arg(MomentText(State.PausedUntil * 1000, now));
    case TQuietReason::OffHours:
        if (const std::int64_t until = Quiet.OffUntil(now); until != 0)
            return tr("Off until %1").arg(MomentText(until, now));
        return tr("Off: no active hours are set");
    case TQuietReason::Locked:
        return tr("Quiet while the screen is locked, since %1").arg(since);
    case TQuietReason::Away:
        return tr("Quiet while you are away, since %1").arg(since);
    case TQuietReason::Fullscreen:
        return tr("Quiet while a window is fullscreen, since %1").arg(since);
    case TQuietReason::Presentation:
        return tr("Quiet during a presentation or call, since %1").arg(since);
    case TQuietReason::DoNotDisturb:
        return tr("Quiet while do-not-disturb is on, since %1").arg(since);
    }
    return {};
}

QString TReminderControl::QuietReason() const {
    const std::int64_t now = GetWallClockMs();
    return ReasonText(Quiet.Reason(now), now);
}

QStringList TReminderControl::StatusLines() const {
    const std::int64_t now = GetWallClockMs();
    QStringList lines;
    if (const QString reason = QuietReason(); !reason.isEmpty())
        lines << reason;
    else if (const std::int64_t next = Quiet.NextReminder(now); next != 0 && !Halted)
        lines << tr("Next reminder at %1").arg(MomentText(next, now));
    if (State.SoundMuted && State.SpeechMuted)
        lines << tr("Sound and speech are muted");
    else if (State.SoundMuted)
        lines << tr("Sound is muted");
    else if (State.SpeechMuted)
        lines << tr("Speech is muted");
    return lines;
}

} // namespace pellora
