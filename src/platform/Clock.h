#pragma once

#include <cstdint>
#include <functional>

namespace pellora {

// Milliseconds since boot, counting suspended time, in 64 bits: it never wraps.
using TickSource = std::function<std::int64_t()>;

std::int64_t GetTickCount64();

// Replaces the clock (tests); an empty function restores the system clock.
// Returns the source that was in use.
TickSource ReplaceTickSource(TickSource source);

// Milliseconds since 1970-01-01 00:00 UTC: the wall clock, which the user or the network may
// set. Pauses and active hours are wall-clock moments; the interval counts on the uptime clock.
using WallSource = std::function<std::int64_t()>;

std::int64_t GetWallClockMs();

// Replaces the wall clock (tests); an empty function restores the system clock.
WallSource ReplaceWallSource(WallSource source);

// A descriptor that becomes readable when the wall clock is set (by hand, by NTP stepping it,
// or on resume), so a program can wait for that without waking; -1 where the system cannot.
// The owner closes it; after it fired, RearmClockWatch makes it wait for the next change.
int OpenClockWatch();
void RearmClockWatch(int fd);

} // namespace pellora
