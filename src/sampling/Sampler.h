#pragma once

#include "ifstats/InterfaceTableReader.h"
#include "platform/Clock.h"
#include "sampling/ContinuousTotal.h"
#include "sampling/TickCollaborators.h"
#include "sampling/TransferLimits.h"

#include <chrono>
#include <cstdint>

namespace quantiro::sampling {

using namespace std::chrono_literals;

inline constexpr auto kTickInterval = 100ms;
// Ten minutes of ticks counted while automatic updating is on.
inline constexpr std::int32_t kUpdateCheckTicks = 6000;
// Every two seconds while limit warnings are on and not suppressed.
inline constexpr std::int32_t kLimitWatcherTicks = 20;
// A tick counts only when it moved more than 1 kB and came less than 1 s after the
// previous one; a longer gap (busy system, suspend) is never counted.
inline constexpr double kCountingThresholdKb = 1.0;
inline constexpr std::uint32_t kMaxCountedGapMs = 1000;

// The 100 ms sampling tick: reads the monitored interface's counters, keeps the
// run's totals continuous, works out the rates, rejects implausible samples and
// feeds the hour's amounts. Amounts are kilobytes (1024 bytes); rates are in rate
// units, kilobytes per second x 1000.
class Sampler {
public:
    Sampler(ifstats::InterfaceTableReader& reader, platform::Clock& clock,
            const TransferLimits& limits, TickCollaborators collaborators);

    // Everything one timer firing does: the update count, the settings reload, the
    // sample and the limit watcher's periodic start.
    void OnTick();
    // One sample of the monitored interface (the table's first row).
    void SampleInterface();

    // The interface measured; empty while the meter waits for one.
    std::string MeasuredInterface() const { return m_waiting ? std::string() : m_lastSeen.name; }
    std::int32_t MeasuredInterfaceIndex() const { return m_waiting ? 0 : m_lastSeen.index; }
    std::uint32_t MeasuredLinkHeaderBytes() const { return platform::LinkHeaderBytes(m_lastSeen); }
    // Ticks found implausible since the start.
    std::uint64_t RejectedSamples() const { return m_rejectedSamples; }

    // The run's totals as shown and passed on: what the monitored links carried since
    // the meter started, less what the records withhold (the local network's, when
    // only what the provider bills counts); the rates stay the link's.
    Totals RunTotals() const {
        const Totals withheld = m_with.records.Withheld();
        return {.received = m_totals.received - withheld.received,
                .sent = m_totals.sent - withheld.sent};
    }
    // What the monitored links carried since the meter started.
    const Totals& LinkTotals() const { return m_totals; }
    // The month's downloads recorded before this run; the month shown adds the
    // run's received total.
    void SetMonthBase(double kilobytes) { m_monthBase = kilobytes; }
    double MonthReceived() const { return m_monthBase + RunTotals().received; }
    // The limit watcher's periodic start, and the update check after ten minutes.
    void SetLimitWarnings(bool enabled) { m_limitWarnings = enabled; }
    void SetAutoUpdate(bool enabled) { m_autoUpdate = enabled; }

private:
    // No interface to measure this tick: the display is told once.
    void Wait();
    // Carries the run's totals on to the row's counters; returns them as they stood.
    Totals AdvanceTotals(const platform::InterfaceRow& current, bool takingUp);
    // A plausible sample's kilobytes and on-line time go to the hour.
    void CountSample(double receivedDelta, double sentDelta, std::uint32_t elapsed, bool takingUp);
    void RejectSample(double receivedDelta, double sentDelta);

    ifstats::InterfaceTableReader& m_reader;
    platform::Clock& m_clock;
    const TransferLimits& m_limits;
    TickCollaborators m_with;

    Totals m_totals;
    CounterTrack m_receivedTrack;
    CounterTrack m_sentTrack;
    double m_monthBase = 0;
    bool m_limitWarnings = false;
    bool m_autoUpdate = false;

    std::int32_t m_updateTicks = 0;
    bool m_updateCheckDone = false;
    std::int32_t m_limitWatcherTicks = 0;

    platform::InterfaceRow m_lastSeen;
    bool m_hasPreviousSample = false;
    bool m_waiting = false;
    std::uint64_t m_rejectedSamples = 0;
    // Totals = offset + the link's continuous total, so they run on across a change
    // of interface and start at 0.
    double m_receivedOffset = 0;
    double m_sentOffset = 0;
    std::uint32_t m_previousTickTime = 0;
};

} // namespace quantiro::sampling
