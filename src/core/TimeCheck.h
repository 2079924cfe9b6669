#pragma once

#include <cstdint>
#include <string>

namespace pellora {

// Decides when the next automatic reminder is due, from the "Timer" settings.
class TTimeCheck {
public:
    // No interval is shorter: a reminder every few seconds would lock the user out.
    static constexpr std::int32_t ShortestMinutes = 1;

    explicit TTimeCheck(const std::string& prefsFile) { LoadSettings(prefsFile); }

    // Re-reads the settings; the current due moment stays until the next Reset.
    void Reload(const std::string& prefsFile) { LoadSettings(prefsFile); }
    // The next reminder falls due one interval from now.
    void Reset();
    // True once the uptime clock has passed the due moment.
    bool IsDue() const;
    // Milliseconds from now until IsDue turns true (0 when it is already).
    std::int64_t MillisecondsToDue() const;

    // A whole number from the smaller bound up to one less than the larger one (the bound
    // itself when both are equal). Reseeds the program's generator first.
    static std::int32_t RandomBetween(std::int32_t a, std::int32_t b);

    std::int32_t FixedInterval = 0;   // minutes
    std::int32_t MinimumInterval = 0; // minutes
    std::int32_t MaximumInterval = 0; // minutes
    bool RandomMode = false;
    std::int64_t DueTick = 0; // uptime clock, milliseconds
    // Set by the last reading when an interval in use was stored below ShortestMinutes and
    // is run as that instead.
    bool RaisedToShortest = false;

private:
    void LoadSettings(const std::string& prefsFile);
};

} // namespace pellora
