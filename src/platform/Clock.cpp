#include "platform/Clock.h"

#include <ctime>

namespace pellora {

namespace {

std::int64_t SystemTicks() {
    timespec ts{};
    // BOOTTIME keeps counting while the machine sleeps, like an uptime clock should,
    // so a reminder that fell due during a suspend comes at wake-up.
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TickSource& CurrentSource() {
    static TickSource source;
    return source;
}

} // namespace

std::int64_t GetTickCount64() {
    const TickSource& source = CurrentSource();
    return source ? source() : SystemTicks();
}

TickSource ReplaceTickSource(TickSource source) {
    TickSource previous = std::move(CurrentSource());
    CurrentSource() = std::move(source);
    return previous;
}

} // namespace pellora
