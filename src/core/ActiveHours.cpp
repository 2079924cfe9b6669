#include "core/ActiveHours.h"

#include "platform/IniFile.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <ctime>
#include <optional>

namespace pellora {

namespace {

// "HH:MM" with one or two hour digits and two minute digits; 24:00 only where allowed.
std::optional<int> ParseClock(std::string_view text, bool endOfDay) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    int hours = 0;
    int minutes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == colon)
            continue;
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        int& part = i < colon ? hours : minutes;
        part = part * 10 + (text[i] - '0');
    }
    if (minutes > 59 || hours > 24 || (hours == 24 && (minutes != 0 || !endOfDay)))
        return std::nullopt;
    return hours * 60 + minutes;
}

std::string ClockText(int minutes) {
    return Format("%02d:%02d", minutes / 60, minutes % 60);
}

std::tm LocalTime(std::int64_t utcMs) {
    // Floor division: moments before 1970 still land in the right second.
    std::time_t seconds = static_cast<std::time_t>(utcMs / 1000 - (utcMs % 1000 < 0 ? 1 : 0));
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

// Monday = 0.
int DayIndex(const std::tm& local) {
    return (local.tm_wday + 6) % 7;
}

// The UTC moment of `minutes` past midnight of the local day `dayOffset` days after `day`.
// In a daylight-saving gap the clock time that does not exist is read as the moment the
// clocks jumped past it; in a repeated hour, as its first pass.
std::int64_t LocalMoment(const std::tm& day, int dayOffset, int minutes) {
    std::tm when{};
    when.tm_year = day.tm_year;
    when.tm_mon = day.tm_mon;
    when.tm_mday = day.tm_mday + dayOffset;
    when.tm_hour = minutes / 60;
    when.tm_min = minutes % 60;
    when.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&when)) * 1000;
}

} // namespace

const std::array<const char*, 7> TActiveHours::DayKeys = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

std::vector<TTimeRange> TActiveHours::ParseDay(std::string_view text,
                                               std::vector<std::string>* bad) {
    std::vector<TTimeRange> ranges;
    for (std::string_view field : SplitFields(text, ',')) {
        field = TrimView(field);
        if (field.empty())
            continue;
        const std::size_t dash = field.find('-');
        std::optional<int> from;
        std::optional<int> to;
        if (dash != std::string_view::npos) {
            from = ParseClock(TrimView(field.substr(0, dash)), false);
            to = ParseClock(TrimView(field.substr(dash + 1)), true);
        }
        if (!from || !to || *from >= *to) {
            if (bad != nullptr)
                bad->emplace_back(field);
            continue;
        }
        ranges.push_back({*from, *to});
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const TTimeRange& a, const TTimeRange& b) { return a.From < b.From; });
    std::vector<TTimeRange> merged;
    for (const TTimeRange& range : ranges) {
        if (!merged.empty() && range.From <= merged.back().To)
            merged.back().To = std::max(merged.back().To, range.To);
        else
            merged.push_back(range);
    }
    return merged;
}

const char* TActiveHours::DefaultDay(std::size_t day) {
    return day < 5 ? "09:00-17:00" : "";
}

std::string TActiveHours::FormatDay(const std::vector<TTimeRange>& ranges) {
    std::string text;
    for (const TTimeRange& range : ranges) {
        if (!text.empty())
            text += ", ";
        text += ClockText(range.From) + "-" + ClockText(range.To);
    }
    return text;
}

TActiveHours TActiveHours::Load(const IniFile& prefs, std::vector<std::string>* problems) {
    TActiveHours hours;
    hours.Enabled = prefs.ReadBool(Section, EnabledKey, false);
    for (std::size_t day = 0; day < DayKeys.size(); ++day) {
        const std::string text = prefs.ReadString(Section, DayKeys[day], DefaultDay(day));
        std::vector<std::string> bad;
        hours.Days[day] = ParseDay(text, &bad);
        if (bad.empty() || problems == nullptr)
            continue;
        std::string line = std::string(DayKeys[day]) + ": ";
        for (std::size_t i = 0; i < bad.size(); ++i)
            line += (i == 0 ? "" : ", ") + bad[i];
        problems->push_back(line);
    }
    return hours;
}

void TActiveHours::Save(IniBatch& prefs) const {
    prefs.WriteBool(Section, EnabledKey, Enabled);
    for (std::size_t day = 0; day < DayKeys.size(); ++day)
        prefs.WriteString(Section, DayKeys[day], FormatDay(Days[day]));
}

bool TActiveHours::IsActive(std::int64_t utcMs) const {
    if (!Enabled)
        return true;
    const std::tm local = LocalTime(utcMs);
    const int minute = local.tm_hour * 60 + local.tm_min;
    const auto& ranges = Days[static_cast<std::size_t>(DayIndex(local))];
    return std::any_of(ranges.begin(), ranges.end(), [minute](const TTimeRange& range) {
        return range.From <= minute && minute < range.To;
    });
}

template <typename Visit>
void TActiveHours::ForEachBoundary(std::int64_t utcMs, bool startsOnly, Visit visit) const {
    const std::tm today = LocalTime(utcMs);
    // Eight days: today's later ranges and every weekday once more.
    for (int offset = 0; offset <= 7; ++offset) {
        const auto& ranges = Days[static_cast<std::size_t>((DayIndex(today) + offset) % 7)];
        for (const TTimeRange& range : ranges) {
            visit(LocalMoment(today, offset, range.From));
            if (!startsOnly)
                visit(LocalMoment(today, offset, range.To));
        }
    }
}

std::int64_t TActiveHours::NextChange(std::int64_t utcMs) const {
    if (!Enabled)
        return 0;
    std::int64_t next = 0;
    ForEachBoundary(utcMs, false, [&](std::int64_t moment) {
        if (moment > utcMs && (next == 0 || moment < next))
            next = moment;
    });
    return next;
}

std::int64_t TActiveHours::NextStart(std::int64_t utcMs) const {
    std::int64_t next = 0;
    ForEachBoundary(utcMs, true, [&](std::int64_t moment) {
        if (moment >= utcMs && (next == 0 || moment < next))
            next = moment;
    });
    return next;
}

std::int64_t TActiveHours::ActiveFrom(std::int64_t utcMs) const {
    return IsActive(utcMs) ? utcMs : NextStart(utcMs);
}

std::int64_t TomorrowAt(std::int64_t utcMs, int minutes) {
    return LocalMoment(LocalTime(utcMs), 1, minutes);
}

std::int64_t UntilTomorrow(std::int64_t utcMs, const TActiveHours& hours) {
    constexpr int EightOClock = 8 * 60;
    if (hours.Enabled) {
        if (const std::int64_t start = hours.NextStart(TomorrowAt(utcMs, 0)); start != 0)
            return start;
    }
    return TomorrowAt(utcMs, EightOClock);
}

} // namespace pellora
