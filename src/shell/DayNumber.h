#pragma once

#include <chrono>
#include <cstdint>

namespace quantiro::shell {

// The family's day number: days since 1970-01-01, so December 2026 starts on day
// 20788. Stored as a 16-bit period number, which lasts until 2059.
inline std::int32_t cDateToInt(int year, int month, int day) {
    using namespace std::chrono;
    const sys_days date{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                        std::chrono::day{static_cast<unsigned>(day)}};
    return static_cast<std::int32_t>(date.time_since_epoch().count());
}

} // namespace quantiro::shell
