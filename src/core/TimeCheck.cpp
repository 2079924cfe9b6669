#include "core/TimeCheck.h"

#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace pellora {

namespace {
constexpr std::int64_t MillisecondsPerMinute = 60000;
}

void TTimeCheck::LoadSettings(const std::string& prefsFile) {
    IniFile file(prefsFile);
    RandomMode = ReadKey(file, keys::Random);
    RaisedToShortest = false;
    // A hand-edited file may hold 0 or less; only the values in use are worth a word.
    auto floored = [this](std::int32_t minutes, bool inUse) {
        if (minutes >= ShortestMinutes)
            return minutes;
        RaisedToShortest = RaisedToShortest || inUse;
        return ShortestMinutes;
    };
    FixedInterval = floored(ReadKey(file, keys::FixedInterval), !RandomMode);
    MinimumInterval = floored(ReadKey(file, keys::MinimumInterval), RandomMode);
    MaximumInterval = floored(ReadKey(file, keys::MaximumInterval), RandomMode);
}

std::int32_t TTimeCheck::RandomBetween(std::int32_t a, std::int32_t b) {
    Randomize();
    if (a == b)
        return b;
    // 64-bit difference: bounds far apart must not overflow.
    const std::int64_t low = a < b ? a : b;
    const std::int64_t span = (a < b ? b : a) - low;
    const std::int32_t n = span > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(span);
    return static_cast<std::int32_t>(low + Random(n));
}

void TTimeCheck::Reset() {
    const std::int32_t minutes =
        RandomMode ? RandomBetween(MinimumInterval, MaximumInterval) : FixedInterval;
    DueTick = GetTickCount64() + minutes * MillisecondsPerMinute;
}

bool TTimeCheck::IsDue() const {
    return GetTickCount64() > DueTick;
}

std::int64_t TTimeCheck::MillisecondsToDue() const {
    const std::int64_t left = DueTick + 1 - GetTickCount64();
    return left > 0 ? left : 0;
}

} // namespace pellora
