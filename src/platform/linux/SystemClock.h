#pragma once

#include "platform/Clock.h"

namespace quantiro::platform::linux_impl {

// CLOCK_BOOTTIME keeps running through suspend, so the first tick after a resume
// sees a long gap and is never counted as traffic.
class SystemClock final : public Clock {
public:
    std::uint32_t TickMilliseconds() override;
    LocalDateTime Now() override;
    void Sleep(std::chrono::milliseconds duration) override;
};

} // namespace quantiro::platform::linux_impl
