#include "platform/Clock.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

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

std::int64_t SystemWall() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TickSource& CurrentSource() {
    static TickSource source;
    return source;
}

WallSource& CurrentWall() {
    static WallSource source;
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

std::int64_t GetWallClockMs() {
    const WallSource& source = CurrentWall();
    return source ? source() : SystemWall();
}

WallSource ReplaceWallSource(WallSource source) {
    WallSource previous = std::move(CurrentWall());
    CurrentWall() = std::move(source);
    return previous;
}

void RearmClockWatch(int fd) {
    // Reading takes the cancellation (ECANCELED) off the descriptor.
    std::uint64_t expirations = 0;
    (void)!::read(fd, &expirations, sizeof expirations);
    // A timer at the farthest moment that is cancelled whenever the clock is set: it never
    // expires, it only reports the change.
    itimerspec far{};
    far.it_value.tv_sec = INT32_MAX;
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr);
}

int OpenClockWatch() {
    const int fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        return -1;
    RearmClockWatch(fd);
    return fd;
}

} // namespace pellora
