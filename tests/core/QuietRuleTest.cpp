#include "core/QuietRule.h"
#include "core/Settings.h"
#include "core/TimeCheck.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

constexpr std::int64_t Minute = 60000;

// A rule over a fixed 5-minute interval, with both clocks in the test's hand. The wall clock
// starts on a Monday at noon UTC; the zone is UTC.
class Rule : public ::testing::Test {
protected:
    Rule() : Previous(ReplaceTickSource([this] { return Tick; })) {
        PutFile(Dir / "prefs.ini", "[Timer]\r\nFixed Interval=5\r\n");
        Timer.Reset();
    }
    ~Rule() override { ReplaceTickSource(Previous); }

    void Pass(std::int64_t ms) {
        Tick += ms;
        Wall += ms;
    }
    TQuietRule::TStep Check() { return Quiet.Check(Tick, Wall); }
    // Lets time pass up to each moment the rule asks to be checked again, `limit` at most,
    // and counts the reminders it shows on the way (each one shown at once).
    int RunFor(std::int64_t limit) {
        int shown = 0;
        for (std::int64_t end = Tick + limit; Tick < end;) {
            const std::int64_t wait = Quiet.NextCheckIn(Tick, Wall);
            if (wait < 0 || Tick + wait > end) {
                Pass(end - Tick);
                break;
            }
            Pass(wait);
            if (Check() == TQuietRule::TStep::Show) {
                ++shown;
                Quiet.Shown();
            }
        }
        return shown;
    }

    TempDir Dir;
    std::int64_t Tick = 1000;
    std::int64_t Wall = 1780315200000; // 2026-06-01 12:00 UTC, a Monday
    TickSource Previous;
    TTimeCheck Timer{Dir / "prefs.ini"};
    TQuietRule Quiet{Timer};
};

TEST(QuietReason, EachFactQuietensOnlyWhenItsSettingIsOnAndALockAlways) {
    struct Case {
        TQuietFacts Facts;
        TQuietSettings Settings;
        TQuietReason Reason;
    };
    const TQuietSettings on;
    TQuietSettings off;
    off.Fullscreen = off.Presentations = off.DoNotDisturb = off.PauseWhenAway = false;
    const Case cases[] = {
        {{}, on, TQuietReason::None},
        {{.Fullscreen = true}, on, TQuietReason::Fullscreen},
        {{.Fullscreen = true}, off, TQuietReason::None},
        {{.Presentation = true}, on, TQuietReason::Presentation},
        {{.Presentation = true}, off, TQuietReason::None},
        {{.DoNotDisturb = true}, on, TQuietReason::DoNotDisturb},
        {{.DoNotDisturb = true}, off, TQuietReason::None},
        {{.Away = true}, on, TQuietReason::Away},
        {{.Away = true}, off, TQuietReason::None},
        {{.Locked = true}, off, TQuietReason::Locked},
        {{.Fullscreen = true, .DoNotDisturb = true, .Locked = true, .Away = true},
         on,
         TQuietReason::Locked},
    };
    TempDir dir;
    TTimeCheck timer(dir / "none.ini");
    for (const Case& c : cases) {
        TQuietRule rule(timer);
        rule.SetSettings(c.Settings, 0);
        rule.SetFacts(c.Facts, 0);
        EXPECT_EQ(rule.Reason(0), c.Reason) << int(c.Reason);
    }
}

TEST(QuietSettings, AndTheStateAreReadWithTheirDefaultsAndNonsenseIsNoPause) {
    EXPECT_EQ(TQuietSettings::Load(IniFile::FromText("")), TQuietSettings{});
    const TQuietSettings read = TQuietSettings::Load(
        IniFile::FromText("[Reminders]\nQuiet Fullscreen=0\nAway Minutes=-4\n"));
    EXPECT_FALSE(read.Fullscreen);
    EXPECT_TRUE(read.Presentations);
    EXPECT_EQ(read.AwayMinutes, 1);
    TempDir dir;
    for (const char* stored : {"abc", "-7", ""}) {
        PutFile(dir / "state.ini", std::string("[Reminders]\r\nPaused Until=") + stored + "\r\n");
        EXPECT_EQ(TReminderState::Load(dir / "state.ini").PausedUntil, 0) << stored;
    }
}

TEST_F(Rule, AReminderDueWhileQuietShowsOnceShortlyAfterTheQuietEndsThenTheIntervalAnew) {
    Quiet.SetFacts({.Fullscreen = true}, Wall);
    const std::int64_t since = Wall;
    // Three intervals pass while quiet: nothing shows, and nothing needs waking for.
    EXPECT_EQ(RunFor(16 * Minute), 0);
    EXPECT_TRUE(Quiet.Held());
    EXPECT_EQ(Quiet.NextCheckIn(Tick, Wall), -1);
    EXPECT_EQ(Quiet.Reason(Wall), TQuietReason::Fullscreen);
    EXPECT_EQ(Quiet.QuietSince(), since);
    EXPECT_EQ(Quiet.NextReminder(Wall), 0);

    Quiet.SetFacts({}, Wall);
    EXPECT_EQ(Quiet.QuietSince(), 0);
    EXPECT_EQ(Check(), TQuietRule::TStep::Wait);
    EXPECT_EQ(Quiet.NextCheckIn(Tick, Wall), TQuietRule::ReleaseDelayMs);
    // Exactly one, a few seconds after; the next a whole interval after it.
    EXPECT_EQ(RunFor(TQuietRule::ReleaseDelayMs), 1);
    EXPECT_EQ(Quiet.NextCheckIn(Tick, Wall), 5 * Minute + 1);
    EXPECT_EQ(Quiet.NextReminder(Wall), Wall + 5 * Minute + 1);
}

TEST_F(Rule, QuietComingBackBeforeTheReleaseKeepsTheReminderHeld) {
    Quiet.SetFacts({.Presentation = true}, Wall);
    RunFor(6 * Minute);
    Quiet.SetFacts({}, Wall);
    Check();
    Pass(1000);
    Quiet.SetFacts({.Presentation = true}, Wall);
    EXPECT_EQ(RunFor(10 * Minute), 0);
    // The few seconds start over when the quiet ends again.
    Quiet.SetFacts({}, Wall);
    EXPECT_EQ(Check(), TQuietRule::TStep::Wait);
    EXPECT_EQ(Quiet.NextCheckIn(Tick, Wall), TQuietRule::ReleaseDelayMs);
    EXPECT_EQ(RunFor(TQuietRule::ReleaseDelayMs), 1);
}

TEST_F(Rule, AfterALongSleepAtMostOneReminderComesThenTheIntervalAnew) {
    Pass(8 * 60 * Minute); // the uptime clock counted the sleep
    EXPECT_EQ(Check(), TQuietRule::TStep::Show);
    Quiet.Shown();
    EXPECT_EQ(Check(), TQuietRule::TStep::Wait);
    EXPECT_EQ(RunFor(5 * Minute), 0);
    EXPECT_EQ(RunFor(Minute), 1);
}

TEST_F(Rule, APauseHoldsEverythingBackAndItsEndStartsTheIntervalAnew) {
    Quiet.SetPausedUntil(Wall / 1000 + 3600);
    EXPECT_EQ(Quiet.Reason(Wall), TQuietReason::Paused);
    EXPECT_EQ(Quiet.OffUntil(Wall), Wall + 3600 * 1000);
    // Wakes only for the pause's end; nothing is made up for then.
    EXPECT_EQ(Quiet.NextCheckIn(Tick, Wall), 3600 * 1000);
    EXPECT_EQ(RunFor(60 * Minute), 0);
    EXPECT_TRUE(Quiet.PauseEnded(Wall));
    EXPECT_EQ(RunFor(5 * Minute), 0);
    EXPECT_EQ(RunFor(Minute), 1);
}

TEST_F(Rule, OutsideTheActiveHoursItSleepsUntilTheyBeginAndCountsTheIntervalFromThen) {
    ::setenv("TZ", "UTC", 1);
    TActiveHours hours;
    hours.Enabled = true;
    hours.Days[0] = TActiveHours::ParseDay("09:00-12:30, 13:30-17:30"); // Monday
    Quiet.SetHours(hours);
    // Reminders come until the hours pause for lunch at 12:30.
    EXPECT_EQ(RunFor(31 * Minute), 5);
    EXPECT_EQ(Quiet.Reason(Wall), TQuietReason::OffHours);
    EXPECT_EQ(Quiet.OffUntil(Wall), Wall + 59 * Minute);
    EXPECT_EQ(RunFor(59 * Minute), 0); // 13:30
    EXPECT_EQ(Quiet.Reason(Wall), TQuietReason::None);
    // The first reminder one interval after the hours began; the last before they end.
    EXPECT_EQ(RunFor(5 * Minute), 0);
    EXPECT_EQ(RunFor(Minute), 1);
    // The last one just after 17:25, each 5 minutes and a millisecond after the one before.
    EXPECT_EQ(RunFor(4 * 60 * Minute), 46);
    EXPECT_EQ(Quiet.Reason(Wall), TQuietReason::OffHours);
}

} // namespace
