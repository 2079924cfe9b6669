#include "ui/ReminderControl.h"
#include "core/QuietRule.h"
#include "core/TimeCheck.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/QuietSources.h"
#include "ui/WindowSystem.h"

#include <QLocale>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace pellora {
namespace {

using test::PutFile;

// Sources whose facts the test sets, as the desktop's would.
class SetFacts : public TQuietSources {
public:
    explicit SetFacts(TWindowSystem& windows) : TQuietSources(windows) {}
    using TQuietSources::Report;
};

// A control over files of the test's own, with both clocks in the test's hand: Monday
// 1 June 2026, 14:00 UTC, in UTC.
class Control : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        test::TestApp();
        QLocale::setDefault(QLocale::c());
        PreviousTick = ReplaceTickSource([this] { return Tick; });
        PreviousWall = ReplaceWallSource([this] { return Wall; });
    }
    void TearDown() override {
        Made.reset();
        ReplaceTickSource(PreviousTick);
        ReplaceWallSource(PreviousWall);
    }
    TReminderControl& Make(const std::string& prefs = "") {
        PutFile(Dir / "prefs.ini", prefs);
        Made = std::make_unique<TReminderControl>(Dir / "prefs.ini", Dir / "state.ini", &Sources);
        QObject::connect(Made.get(), &TReminderControl::ShowReminder,
                         [this](bool timed) { Shown << timed; });
        return *Made;
    }
    // Time passes; the control looks again as its timer would make it, once armed.
    void Pass(std::int64_t ms) {
        Tick += ms;
        Wall += ms;
        Made->Evaluate();
    }

    test::TempDir Dir;
    std::int64_t Tick = 5000;
    std::int64_t Wall = 1780322400000;
    TickSource PreviousTick;
    WallSource PreviousWall;
    TNoWindowSystem Windows;
    SetFacts Sources{Windows};
    std::unique_ptr<TReminderControl> Made;
    QList<bool> Shown;
};

TEST_F(Control, AQuietTimeIsToldWithItsSinceAndTheHeldReminderComesOnceAfterIt) {
    TReminderControl& control = Make("[Timer]\r\nFixed Interval=2\r\n");
    QSignalSpy status(&control, &TReminderControl::StatusChanged);
    EXPECT_EQ(control.StatusLines(), QStringList{"Next reminder at 14:02"});
    EXPECT_EQ(control.NextReminder(), Wall / 1000 + 120);
    // The timer is armed for the due moment and nothing sooner.
    EXPECT_EQ(control.WakeTimer().interval(), 2 * 60000 + 1);

    Pass(30000);
    Sources.Report({.Fullscreen = true});
    EXPECT_EQ(control.QuietReason(), "Quiet while a window is fullscreen, since 14:00");
    EXPECT_EQ(control.Reason(), TQuietReason::Fullscreen);
    EXPECT_FALSE(status.isEmpty());
    // Due while quiet: held, and nothing wakes the program until the facts change.
    Pass(2 * 60000);
    Pass(10 * 60000);
    EXPECT_TRUE(Shown.isEmpty());
    EXPECT_FALSE(control.WakeTimer().isActive());
    EXPECT_EQ(control.NextReminder(), 0);

    Sources.Report({});
    EXPECT_EQ(control.WakeTimer().interval(), TQuietRule::ReleaseDelayMs);
    Pass(TQuietRule::ReleaseDelayMs);
    EXPECT_EQ(Shown, QList<bool>{true});
    Pass(60000);
    EXPECT_EQ(Shown.size(), 1);
    EXPECT_EQ(control.StatusLines(), QStringList{"Next reminder at 14:14"});
}

TEST_F(Control, APauseAndTheMutesAreStoredAndTheUsersReminderComesAnyway) {
    TReminderControl& control = Make();
    EXPECT_THROW(control.Pause(-1), EPelloraError);
    control.Pause(90 * 60);
    EXPECT_EQ(control.PausedUntil(), Wall / 1000 + 90 * 60);
    EXPECT_EQ(control.QuietReason(), "Paused until 15:30");
    EXPECT_EQ(control.WakeTimer().interval(), 90 * 60000);
    control.SetMuted(true, false);
    EXPECT_EQ(control.StatusLines(), (QStringList{"Paused until 15:30", "Sound is muted"}));
    EXPECT_EQ(TReminderState::Load(Dir / "state.ini"),
              (TReminderState{Wall / 1000 + 90 * 60, true, false}));
    control.ShowNow();
    EXPECT_EQ(Shown, QList<bool>{false});

    // The clock is set past the pause's end: it is over and forgotten.
    Wall += 2 * 3600 * 1000;
    control.Evaluate();
    EXPECT_EQ(control.PausedUntil(), 0);
    EXPECT_EQ(TReminderState::Load(Dir / "state.ini").PausedUntil, 0);

    control.Pause(0);
    EXPECT_EQ(control.QuietReason(), "Paused until you resume");
    EXPECT_FALSE(control.WakeTimer().isActive());
    control.Resume();
    EXPECT_EQ(control.QuietReason(), "");
    // The interval starts afresh at the resume.
    EXPECT_EQ(control.NextReminder(), Wall / 1000 + 5 * 60);
}

TEST_F(Control, TheAwayThresholdFollowsTheSettings) {
    Make("[Reminders]\r\nAway Minutes=7\r\n");
    EXPECT_EQ(Sources.AwayThresholdSet(), std::chrono::minutes(7));
    PutFile(Dir / "prefs.ini", "[Reminders]\r\nPause When Away=0\r\n");
    Made->Reload();
    EXPECT_EQ(Sources.AwayThresholdSet(), std::chrono::milliseconds(0));
}

} // namespace
} // namespace pellora
