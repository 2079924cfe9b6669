#include "HttpDate.h"

#include "platform/StrUtils.h"

#include <array>

namespace pellora {

namespace {

constexpr std::array<const char*, 7> ShortDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> LongDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> Months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::int64_t SecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivil {
    std::int64_t Year;
    unsigned Month, Day;
};

TCivil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// A cursor over the date text; every reader consumes only on success.
class TScanner {
public:
    explicit TScanner(std::string_view text) : Text(text) {}
    bool Literal(std::string_view word) {
        if (Text.substr(Pos, word.size()) != word)
            return false;
        Pos += word.size();
        return true;
    }
    // Exactly `digits` decimal digits; a leading blank stands for a zero when allowed.
    bool Number(int digits, int& value, bool blankPadded = false) {
        if (Pos + digits > Text.size())
            return false;
        value = 0;
        for (int i = 0; i < digits; ++i) {
            char c = Text[Pos + i];
            if (c == ' ' && blankPadded && i == 0)
                continue;
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        Pos += digits;
        return true;
    }
    template <std::size_t N> bool OneOf(const std::array<const char*, N>& words, int& index) {
        for (std::size_t i = 0; i < N; ++i)
            if (Literal(words[i])) {
                index = static_cast<int>(i);
                return true;
            }
        return false;
    }
    bool AtEnd() const { return Pos == Text.size(); }

private:
    std::string_view Text;
    std::size_t Pos = 0;
};

bool Time(TScanner& s, int& hour, int& minute, int& second) {
    return s.Number(2, hour) && s.Literal(":") && s.Number(2, minute) && s.Literal(":") &&
           s.Number(2, second);
}

std::optional<std::int64_t> ToSeconds(std::int64_t year, int month, int day, int hour, int minute,
                                      int second) {
    if (month < 0 || month > 11 || day < 1 ||
        static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month) + 1) ||
        hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month) + 1, static_cast<unsigned>(day)) *
               SecondsPerDay +
           std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

} // namespace

std::string FormatHttpDate(std::int64_t seconds) {
    std::int64_t days =
        seconds >= 0 ? seconds / SecondsPerDay : -((-seconds - 1) / SecondsPerDay) - 1;
    std::int64_t rest = seconds - days * SecondsPerDay;
    TCivil date = CivilFromDays(days);
    int weekday = static_cast<int>((days % 7 + 7 + 4) % 7); // 1970-01-01 was a Thursday
    return Format("%s, %02u %s %04lld %02d:%02d:%02d GMT", ShortDays[weekday], date.Day,
                  Months[date.Month - 1], static_cast<long long>(date.Year),
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
}

std::string FormatIsoTime(std::int64_t seconds) {
    std::int64_t days =
        seconds >= 0 ? seconds / SecondsPerDay : -((-seconds - 1) / SecondsPerDay) - 1;
    std::int64_t rest = seconds - days * SecondsPerDay;
    TCivil date = CivilFromDays(days);
    return Format("%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(date.Year), date.Month,
                  date.Day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    text = TrimView(text);
    int weekday, day, month, year, hour, minute, second;
    {
        // Sun, 06 Nov 1994 08:49:37 GMT
        TScanner s(text);
        if (s.OneOf(ShortDays, weekday) && s.Literal(", ") && s.Number(2, day) && s.Literal(" ") &&
            s.OneOf(Months, month) && s.Literal(" ") && s.Number(4, year) && s.Literal(" ") &&
            Time(s, hour, minute, second) && s.Literal(" GMT") && s.AtEnd())
            return ToSeconds(year, month, day, hour, minute, second);
    }
    {
        // Sunday, 06-Nov-94 08:49:37 GMT; two-digit years below 70 are of this century.
        TScanner s(text);
        if (s.OneOf(LongDays, weekday) && s.Literal(", ") && s.Number(2, day) && s.Literal("-") &&
            s.OneOf(Months, month) && s.Literal("-") && s.Number(2, year) && s.Literal(" ") &&
            Time(s, hour, minute, second) && s.Literal(" GMT") && s.AtEnd())
            return ToSeconds(year < 70 ? 2000 + year : 1900 + year, month, day, hour, minute,
                             second);
    }
    {
        // Sun Nov  6 08:49:37 1994
        TScanner s(text);
        if (s.OneOf(ShortDays, weekday) && s.Literal(" ") && s.OneOf(Months, month) &&
            s.Literal(" ") && s.Number(2, day, true) && s.Literal(" ") &&
            Time(s, hour, minute, second) && s.Literal(" ") && s.Number(4, year) && s.AtEnd())
            return ToSeconds(year, month, day, hour, minute, second);
    }
    return std::nullopt;
}

} // namespace pellora
