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

} // namespace pellora
