// Arbitrary bytes as a preferences file: its active hours and quiet settings. Each day read
// must be sorted, without overlaps, within the day, and written back the same; the moments
// asked of it come after the moment asked about.

#include "core/ActiveHours.h"
#include "core/QuietRule.h"
#include "platform/IniFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "active hours: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool zone = [] { return ::setenv("TZ", "Europe/Berlin", 1) == 0; }();
    (void)zone;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const IniFile prefs = IniFile::FromText(text);
    std::vector<std::string> problems;
    const TActiveHours hours = TActiveHours::Load(prefs, &problems);
    if (TQuietSettings::Load(prefs).AwayMinutes < 1)
        Fail("away for less than a minute");
    for (const auto& day : hours.Days) {
        int end = -1;
        for (const TTimeRange& range : day) {
            if (range.From <= end || range.From >= range.To || range.From < 0 ||
                range.To > TActiveHours::MinutesPerDay)
                Fail("a range out of order or out of the day");
            end = range.To;
        }
        std::vector<std::string> bad;
        if (TActiveHours::ParseDay(TActiveHours::FormatDay(day), &bad) != day || !bad.empty())
            Fail("a day does not read back as written");
    }
    // A moment from the input's first bytes, within a century of 2000.
    std::int64_t moment = 946684800000;
    if (size >= 4) {
        std::uint32_t offset = 0;
        std::memcpy(&offset, data, sizeof offset);
        moment += static_cast<std::int64_t>(offset) * 1000;
    }
    const std::int64_t change = hours.NextChange(moment);
    const std::int64_t start = hours.NextStart(moment);
    if ((change != 0 && change <= moment) || (start != 0 && start < moment))
        Fail("a next moment lies before now");
    (void)UntilTomorrow(moment, hours);
    return 0;
}
