#include "ui/ReminderControl.h"
#include "core/QuietRule.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "support/TempDir.h"
#include "support/X11QtApp.h"
#include "ui/QuietSources.h"
#include "ui/WindowSystem.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace pellora {
namespace {

// Sources whose facts the test sets, as the desktop's would.
class SetFacts : public TQuietSources {
public:
    using TQuietSources::Report;
    using TQuietSources::TQuietSources;
};

// A control over files of the test's own, both clocks in the test's hand: Monday 1 June 2026,
// 14:00 UTC, in UTC.
class Control : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        test::TestApp();
        QLocale::setDefault(QLocale::c());
        PreviousTick = ReplaceTickSource([this] { return Tick; });
        PreviousWall = ReplaceWallSource([this] { return Wall; });
        test::PutFile(Dir / "prefs.ini", "[Reminders]\r\nAway Minutes=7\r\n");
        Made = std::make_unique<TReminderControl>(Dir / "prefs.ini", Dir / "state.ini", &Sources);
    }
    void TearDown() override {
        Made.reset();
        ReplaceTickSource(PreviousTick);
        ReplaceWallSource(PreviousWall);
    }

    test::TempDir Dir;
    std::int64_t Tick = 5000;
    std::int64_t Wall = 1780322400000;
    TickSource PreviousTick;
    WallSource PreviousWall;
    TNoWindowSystem Windows;
    SetFacts Sources{Windows};
    std::unique_ptr<TReminderControl> Made;
};

TEST_F(Control, TheDesktopsFactsAndSettingsReachTheRuleAndTheQuietIsToldWithItsSince) {
    EXPECT_EQ(Sources.AwayThresholdSet(), std::chrono::minutes(7));
    Wall += 90000;
    Sources.Report({.Fullscreen = true});
    EXPECT_EQ(Made->QuietReason(), "Quiet while a window is fullscreen, since 14:01");
    Tick += 6 * 60000;
    Made->Evaluate();
    EXPECT_TRUE(Made->Rule().Held());
    EXPECT_FALSE(Made->WakeTimer().isActive());
    // The quiet ends: the held reminder is due a few seconds later.
    Sources.Report({});
    EXPECT_EQ(Made->QuietReason(), "");
    EXPECT_EQ(Made->WakeTimer().interval(), TQuietRule::ReleaseDelayMs);
}

TEST_F(Control, APauseIsRefusedBelowZeroAndForgottenOnceTheClockPassesItsEnd) {
    EXPECT_THROW(Made->Pause(-1), EPelloraError);
    Made->Pause(90 * 60);
    EXPECT_EQ(Made->QuietReason(), "Paused until 15:30");
    EXPECT_EQ(Made->WakeTimer().interval(), 90 * 60000);
    // The clock is set past the end: the pause is over, also in the state file.
    Wall += 2 * 3600 * 1000;
    Made->Evaluate();
    EXPECT_EQ(Made->PausedUntil(), 0);
    EXPECT_EQ(TReminderState::Load(Dir / "state.ini").PausedUntil, 0);
    Made->Pause(0);
    EXPECT_EQ(Made->QuietReason(), "Paused until you resume");
    EXPECT_FALSE(Made->WakeTimer().isActive());
}

} // namespace
} // namespace pellora
