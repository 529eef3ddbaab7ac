#pragma once

#include <chrono>
#include <cstdint>

namespace quantiro::platform {

struct LocalDateTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;  // 0..23
    int minute = 0;
    int second = 0;
};

// The meter's sense of time: a millisecond tick count for rates, local date and
// hour for the records. Injected so that tests can step across hours and months.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the system started, wrapping at 2^32.
    virtual std::uint32_t TickMilliseconds() = 0;
    virtual LocalDateTime Now() = 0;
    // Blocks the calling thread (the exit path waits for the family's readers).
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

} // namespace quantiro::platform
