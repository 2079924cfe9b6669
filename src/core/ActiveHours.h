#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

class IniFile;
class IniBatch;

// A stretch of one day in local time, in minutes from midnight: From < To <= 24 hours.
struct TTimeRange {
    int From = 0;
    int To = 0;
    bool operator==(const TTimeRange&) const = default;
};

// The days and times of day at which reminders may come, e.g. Monday to Friday 09:00-12:30
// and 13:30-17:30. Times are local: they follow daylight-saving and time-zone changes, while
// the moments it answers with are UTC milliseconds, so they can be compared with the clock.
class TActiveHours {
public:
    static constexpr int MinutesPerDay = 24 * 60;
    // The preferences file's section.
    static constexpr const char* Section = "Active Hours";
    static constexpr const char* EnabledKey = "Enabled";
    // English day names, Monday first: the keys of the preferences file.
    static const std::array<const char*, 7> DayKeys;

    // Off: reminders at any hour. The ranges are kept all the same, for switching on again.
    bool Enabled = false;
    // Per day, Monday first; sorted, overlapping or touching ranges merged.
    std::array<std::vector<TTimeRange>, 7> Days;

    // "09:00-12:30, 13:30-17:30" (empty: no reminders that day). Ranges that cannot be read go
    // to `bad` as written; the rest are kept.
    static std::vector<TTimeRange> ParseDay(std::string_view text,
                                            std::vector<std::string>* bad = nullptr);
    static std::string FormatDay(const std::vector<TTimeRange>& ranges);
    // What a day holds before the user sets anything: office hours on weekdays, Monday = 0.
    static const char* DefaultDay(std::size_t day);

    // From section "Active Hours" of the preferences file; `problems` gets one line per day
    // whose text held something unreadable ("Monday: 9-5").
    static TActiveHours Load(const IniFile& prefs, std::vector<std::string>* problems = nullptr);
    void Save(IniBatch& prefs) const;

    // Whether reminders may come at this moment.
    bool IsActive(std::int64_t utcMs) const;
    // The first moment after `utcMs` at which a range begins or ends (within the next eight
    // days); 0 when there is none. Where that changes IsActive, it is worth waking for.
    std::int64_t NextChange(std::int64_t utcMs) const;
    // The first moment at or after `utcMs` at which a range begins; 0 when no day has one.
    std::int64_t NextStart(std::int64_t utcMs) const;
    // The first moment at or after `utcMs` at which reminders may come: `utcMs` itself when
    // off or active then, otherwise the next start (0 when there is none).
    std::int64_t ActiveFrom(std::int64_t utcMs) const;

private:
    // Every range boundary of the eight days from the local day holding `utcMs`, as UTC ms.
    template <typename Visit>
    void ForEachBoundary(std::int64_t utcMs, bool startsOnly, Visit visit) const;
};

// Local midnight starting the day after the one holding `utcMs`, plus `minutes`, as UTC ms.
std::int64_t TomorrowAt(std::int64_t utcMs, int minutes);

// Where "Until tomorrow" ends a pause begun at `utcMs`: the first active hour from tomorrow
// on, or 08:00 tomorrow when no active hours are set.
std::int64_t UntilTomorrow(std::int64_t utcMs, const TActiveHours& hours);

} // namespace pellora
