#include "platform/linux/SystemClock.h"

#include <cerrno>
#include <ctime>

namespace quantiro::platform::linux_impl {

std::uint32_t SystemClock::TickMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(milliseconds); // wraps like the Windows tick count
}

LocalDateTime SystemClock::Now() {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

void SystemClock::Sleep(std::chrono::milliseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec remaining{static_cast<time_t>(seconds.count()),
                       static_cast<long>(std::chrono::nanoseconds(duration - seconds).count())};
    // A signal must not cut the wait short.
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &remaining, &remaining) == EINTR) {
    }
}

} // namespace quantiro::platform::linux_impl
