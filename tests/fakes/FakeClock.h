#pragma once

#include "platform/Clock.h"

namespace quantiro::testing {

class FakeClock final : public platform::Clock {
public:
    std::uint32_t GetTickCount() override { return m_tick; }
    platform::LocalDateTime Now() override { return m_now; }

    void SetTick(std::uint32_t tick) { m_tick = tick; }
    void Advance(std::uint32_t milliseconds) { m_tick += milliseconds; }
    void SetNow(const platform::LocalDateTime& now) { m_now = now; }

private:
    std::uint32_t m_tick = 0;
    platform::LocalDateTime m_now{2026, 12, 5, 10, 0, 0};
};

} // namespace quantiro::testing
