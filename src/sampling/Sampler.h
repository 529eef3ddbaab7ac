#pragma once

#include "ifstats/CIpHelper.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "sampling/SamplingState.h"
#include "sampling/TickCollaborators.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace quantiro::sampling {

using namespace std::chrono_literals;

inline constexpr auto kTickInterval = 100ms;
// Ten minutes of firings counted while automatic updating is on.
inline constexpr std::int32_t kUpdateCheckFirings = 6000;
// Every two seconds while limit warnings are on and not suppressed.
inline constexpr std::int32_t kWarningFirings = 20;
// A tick counts only when it moved more than 1 kB and came less than 1 s after the
// previous one; a longer gap (busy system, suspend) is never counted.
inline constexpr double kCountingThresholdKb = 1.0;
inline constexpr std::uint32_t kMaxCountedGapMs = 1000;

// The 100 ms sampling tick: reads the monitored interface's counters, keeps the
// totals continuous, works out the rates, rejects implausible samples and feeds
// the hour's accumulators.
class Sampler {
public:
    Sampler(SamplingState& state, ifstats::CIpHelper& interfaceReader, platform::Clock& clock,
            platform::RegistrySettings& settings, TickCollaborators collaborators);

    // The handler of every timer firing.
    void Timer1_Timer();
    // One sample of the interface at `interfacePosition` (1-based) in the table.
    void ProcessTick(std::int32_t interfacePosition);

    // The interface picker's selection (0-based, -1 when the picker is empty).
    void SetSelectedInterface(std::int32_t listIndex) { m_selectedInterface = listIndex; }

    // The monitored interface as the latest tick saw it (null before the first tick).
    const std::shared_ptr<ifstats::CInterface>& LastSeenInterface() const {
        return m_lastSeenInterface;
    }

private:
    SamplingState& m_state;
    ifstats::CIpHelper& m_interfaceReader;
    platform::Clock& m_clock;
    platform::RegistrySettings& m_settings;
    TickCollaborators m_with;

    std::int32_t m_selectedInterface = 0;
    std::int32_t m_updateTickCount = 0;
    bool m_updateCheckDone = false;
    std::int16_t m_warningTickCount = 0;

    std::shared_ptr<ifstats::CInterface> m_lastSeenInterface;
    double m_previousTotalReceived = 0;
    double m_previousTotalSent = 0;
    std::uint32_t m_previousTickTime = 0;
};

} // namespace quantiro::sampling
