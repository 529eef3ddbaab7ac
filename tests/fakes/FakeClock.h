#pragma once

#include "platform/Clock.h"

#include <vector>

namespace quantiro::testing {

class FakeClock final : public platform::Clock {
public:
    std::uint32_t TickMilliseconds() override { return m_tick; }
    platform::LocalDateTime Now() override { return m_now; }
    // Waits return at once; the tick count moves on as if they had been waited.
    void Sleep(std::chrono::milliseconds duration) override {
        sleeps.push_back(duration);
        m_tick += static_cast<std::uint32_t>(duration.count());
    }

    void SetTick(std::uint32_t tick) { m_tick = tick; }
    void Advance(std::uint32_t milliseconds) { m_tick += milliseconds; }
    void SetNow(const platform::LocalDateTime& now) { m_now = now; }

    std::vector<std::chrono::milliseconds> sleeps;

private:
    std::uint32_t m_tick = 0;
    platform::LocalDateTime m_now{2026, 12, 5, 10, 0, 0};
};

} // namespace quantiro::testing
