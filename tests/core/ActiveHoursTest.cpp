#include "core/ActiveHours.h"
#include "platform/IniFile.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

using namespace pellora;

namespace {

// Runs the test in the given zone; the next one finds the zone it had.
struct Zone {
    explicit Zone(const char* zone) : Previous(std::getenv("TZ") ? std::getenv("TZ") : "UTC") {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~Zone() {
        ::setenv("TZ", Previous.c_str(), 1);
        ::tzset();
    }
    std::string Previous;
};

// A UTC moment written as text, "2026-03-27 16:30".
std::int64_t Utc(const char* text) {
    std::tm when{};
    ::strptime(text, "%Y-%m-%d %H:%M", &when);
    return static_cast<std::int64_t>(::timegm(&when)) * 1000;
}

// Office hours with lunch on weekdays.
TActiveHours Office() {
    TActiveHours hours;
    hours.Enabled = true;
    for (int day = 0; day < 5; ++day)
        hours.Days[day] = TActiveHours::ParseDay("09:00-12:30, 13:30-17:30");
    return hours;
}

} // namespace

TEST(ActiveHours, DayTextsAreReadSortedAndMergedAndBadRangesAreNamed) {
    struct Case {
        const char* Text;
        const char* Read;
        std::vector<std::string> Bad;
    };
    const Case cases[] = {
        {"09:00-12:30, 13:30-17:30", "09:00-12:30, 13:30-17:30", {}},
        {"13:30-17:30,9:00-12:30", "09:00-12:30, 13:30-17:30", {}},
        {"09:00-12:00, 11:00-13:00, 13:00-14:00", "09:00-14:00", {}},
        {" 22:00 - 24:00 ", "22:00-24:00", {}},
        {"", "", {}},
        {"9-5, 10:60-11:00, 12:00-09:00, 24:00-24:00, 08:00-08:00",
         "",
         {"9-5", "10:60-11:00", "12:00-09:00", "24:00-24:00", "08:00-08:00"}},
        {"09:00-12:30, lunch", "09:00-12:30", {"lunch"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> bad;
        EXPECT_EQ(TActiveHours::FormatDay(TActiveHours::ParseDay(c.Text, &bad)), c.Read) << c.Text;
        EXPECT_EQ(bad, c.Bad) << c.Text;
    }
}

TEST(ActiveHours, LoadingTellsWhichDaysHeldWhatAndSavingWritesThemBack) {
    std::vector<std::string> problems;
    const TActiveHours hours =
        TActiveHours::Load(IniFile::FromText("[Active Hours]\nEnabled=1\nTuesday=9-5\n"
                                             "Saturday=10:00-11:00\n"),
                           &problems);
    EXPECT_TRUE(hours.Enabled);
    // Days not in the file hold office hours on weekdays and nothing at the weekend.
    EXPECT_EQ(TActiveHours::FormatDay(hours.Days[0]), "09:00-17:00");
    EXPECT_TRUE(hours.Days[1].empty());
    EXPECT_EQ(TActiveHours::FormatDay(hours.Days[5]), "10:00-11:00");
    EXPECT_TRUE(hours.Days[6].empty());
    EXPECT_EQ(problems, std::vector<std::string>{"Tuesday: 9-5"});
    EXPECT_FALSE(TActiveHours::Load(IniFile::FromText("")).Enabled);
}

TEST(ActiveHours, MomentsFollowTheLocalClockAcrossDaylightSavingAndZones) {
    const TActiveHours office = Office();
    struct Case {
        const char* Zone;
        const char* Now; // UTC
        bool Active;
        const char* NextStart; // UTC
        const char* NextChange;
    };
    const Case cases[] = {
        // Berlin, Friday 18:30 CET before the spring change: Monday 09:00 is already CEST.
        {"Europe/Berlin", "2026-03-27 17:30", false, "2026-03-30 07:00", "2026-03-30 07:00"},
        // Friday 11:00 CET: active until lunch.
        {"Europe/Berlin", "2026-03-27 10:00", true, "2026-03-27 12:30", "2026-03-27 11:30"},
        // The autumn change: Friday in CEST, Monday in CET.
        {"Europe/Berlin", "2026-10-23 16:00", false, "2026-10-26 08:00", "2026-10-26 08:00"},
        // The same moment (Monday 14:00 UTC) elsewhere: New York 10:00, Tokyo 23:00.
        {"America/New_York", "2026-06-01 14:00", true, "2026-06-01 17:30", "2026-06-01 16:30"},
        {"Asia/Tokyo", "2026-06-01 14:00", false, "2026-06-02 00:00", "2026-06-02 00:00"},
        // New York's spring change falls on the second Sunday of March.
        {"America/New_York", "2026-03-06 23:00", false, "2026-03-09 13:00", "2026-03-09 13:00"},
    };
    for (const Case& c : cases) {
        const Zone zone(c.Zone);
        const std::int64_t now = Utc(c.Now);
        EXPECT_EQ(office.IsActive(now), c.Active) << c.Zone << " " << c.Now;
        EXPECT_EQ(office.NextStart(now), Utc(c.NextStart)) << c.Zone << " " << c.Now;
        EXPECT_EQ(office.NextChange(now), Utc(c.NextChange)) << c.Zone << " " << c.Now;
    }
    // Switched off, every moment is active and nothing changes.
    TActiveHours off = office;
    off.Enabled = false;
    EXPECT_TRUE(off.IsActive(Utc("2026-03-28 12:00")));
    EXPECT_EQ(off.NextChange(Utc("2026-03-28 12:00")), 0);
}

TEST(ActiveHours, UntilTomorrowIsTheNextDaysFirstActiveHourOrEightOClock) {
    const Zone zone("Europe/Berlin");
    TActiveHours none;
    // Saturday 28 March 22:00 CET: Sunday 08:00 is already summer time.
    EXPECT_EQ(UntilTomorrow(Utc("2026-03-28 21:00"), none), Utc("2026-03-29 06:00"));
    // With office hours, from Thursday: Friday 09:00; from Friday: Monday 09:00.
    EXPECT_EQ(UntilTomorrow(Utc("2026-03-26 15:00"), Office()), Utc("2026-03-27 08:00"));
    EXPECT_EQ(UntilTomorrow(Utc("2026-03-27 15:00"), Office()), Utc("2026-03-30 07:00"));
}
