#include "core/TimeCheck.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <set>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

// A controllable uptime clock for the duration of one test.
class FakeClock {
public:
    FakeClock() : Previous(ReplaceTickSource([this] { return Now; })) {}
    ~FakeClock() { ReplaceTickSource(Previous); }
    std::int64_t Now = 1000;

private:
    TickSource Previous;
};

std::string Prefs(const TempDir& dir, const std::string& timer) {
    PutFile(dir / "pellora Prefs.ini", "[Timer]\r\n" + timer);
    return dir / "pellora Prefs.ini";
}

} // namespace

TEST(TimeCheck, AnEmptyPreferencesFileGivesAFixedFiveMinuteInterval) {
    TempDir dir;
    FakeClock clock;
    TTimeCheck check(dir / "missing.ini");
    EXPECT_FALSE(check.RandomMode);
    EXPECT_EQ(check.FixedInterval, 5);
    EXPECT_EQ(check.MinimumInterval, 5);
    EXPECT_EQ(check.MaximumInterval, 20);
    check.Reset();
    EXPECT_EQ(check.DueTick, 1000 + 5 * 60000);
    clock.Now = 1000 + 5 * 60000;
    EXPECT_FALSE(check.IsDue()); // strictly after the due moment
    clock.Now += 1;
    EXPECT_TRUE(check.IsDue());
}

TEST(TimeCheck, HexIsReadAndIntervalsBelowOneMinuteRunAsOneMinute) {
    struct Case {
        const char* Timer;
        std::int32_t Fixed, Minimum, Maximum;
        bool Raised; // worth telling: a value in use was below the floor
    };
    const Case cases[] = {
        {"Fixed Interval=0x0A\r\n", 10, 5, 20, false},
        {"Fixed Interval=0\r\n", 1, 5, 20, true},
        {"Fixed Interval=-5\r\n", 1, 5, 20, true},
        {"Fixed Interval=0xFFFFFFFF\r\n", 1, 5, 20, true},
        // A bound below the floor in fixed mode is not in use: nothing to tell.
        {"Minimum Interval=-3\r\n", 5, 1, 20, false},
        {"Random=1\r\nMinimum Interval=0\r\nMaximum Interval=0\r\nFixed Interval=0\r\n", 1, 1, 1,
         true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        FakeClock clock;
        TTimeCheck check(Prefs(dir, c.Timer));
        EXPECT_EQ(check.FixedInterval, c.Fixed) << c.Timer;
        EXPECT_EQ(check.MinimumInterval, c.Minimum) << c.Timer;
        EXPECT_EQ(check.MaximumInterval, c.Maximum) << c.Timer;
        EXPECT_EQ(check.RaisedToShortest, c.Raised) << c.Timer;
        check.Reset();
        EXPECT_EQ(check.MillisecondsToDue(), check.DueTick + 1 - clock.Now) << c.Timer;
        EXPECT_GE(check.DueTick, clock.Now + 60000) << c.Timer;
    }
}

TEST(TimeCheck, ReloadKeepsTheDueMomentUntilTheNextReset) {
    TempDir dir;
    FakeClock clock;
    std::string path = Prefs(dir, "Fixed Interval=3\r\n");
    TTimeCheck check(path);
    check.Reset();
    Prefs(dir, "Random=1\r\nMinimum Interval=7\r\nMaximum Interval=7\r\n");
    check.Reload(path);
    EXPECT_TRUE(check.RandomMode);
    EXPECT_EQ(check.DueTick, 1000 + 3 * 60000);
    check.Reset();
    EXPECT_EQ(check.DueTick, 1000 + 7 * 60000);
}

TEST(TimeCheck, RandomIntervalsLieFromTheSmallerBoundToOneLessThanTheLarger) {
    for (auto [a, b] : {std::pair{5, 20}, std::pair{20, 5}}) {
        std::set<int> seen;
        for (int i = 0; i < 3000; ++i) {
            int minutes = TTimeCheck::RandomBetween(a, b);
            ASSERT_GE(minutes, 5);
            ASSERT_LE(minutes, 19);
            seen.insert(minutes);
        }
        EXPECT_EQ(seen.size(), 15u) << a << "," << b;
    }
    EXPECT_EQ(TTimeCheck::RandomBetween(10, 10), 10);
    EXPECT_EQ(TTimeCheck::RandomBetween(-5, -5), -5);
    int wide = TTimeCheck::RandomBetween(INT32_MIN, INT32_MAX);
    EXPECT_LT(wide, INT32_MAX);
}

TEST(TimeCheck, EveryRandomIntervalReseedsTheGeneratorAndAFixedOneDoesNot) {
    struct Counting : RandomGenerator {
        void Randomize() override { ++Seeds; }
        std::int32_t Random(std::int32_t n) override { return n - 1; }
        int Seeds = 0;
    };
    auto counting = std::make_unique<Counting>();
    Counting* raw = counting.get();
    auto previous = ReplaceProgramRandom(std::move(counting));
    TempDir dir;
    FakeClock clock;
    TTimeCheck random(Prefs(dir, "Random=1\r\nMinimum Interval=5\r\nMaximum Interval=20\r\n"));
    random.Reset();
    EXPECT_EQ(raw->Seeds, 1);
    EXPECT_EQ(random.DueTick, 1000 + 19 * 60000);
    TTimeCheck fixed(Prefs(dir, "Random=0\r\n"));
    fixed.Reset();
    EXPECT_EQ(raw->Seeds, 1);
    ReplaceProgramRandom(std::move(previous));
}

TEST(TimeCheck, TheDueMomentIsRightBeyondTheOld32BitWrap) {
    TempDir dir;
    FakeClock clock;
    clock.Now = 0xFFFFFFFFLL - 60000; // a minute before a 32-bit tick count wrapped
    TTimeCheck check(Prefs(dir, "Fixed Interval=5\r\n"));
    check.Reset();
    clock.Now += 2 * 60000;
    EXPECT_FALSE(check.IsDue());
    clock.Now += 3 * 60000 + 1;
    EXPECT_TRUE(check.IsDue());
}
