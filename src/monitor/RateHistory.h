#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The live monitor's memory of the rates: the last two minutes at the meter's
// 100 ms resolution and the last hour at one second, and a scale to draw them on.
namespace quantiro::monitor {

enum class Span { TwoMinutes, OneHour };

// The monitor's window as the user left it, and whether the meter starts it.
struct MonitorSettings {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool onTop = false;
    Span span = Span::TwoMinutes;
    bool startWithMeter = false;
    // The meter's interface as the user chose it ("Interfejs"); empty: the route's.
    std::string interfaceName;
};

// Where the monitor's settings go: its place, span and on-top choice when it
// closes, the start with the meter as soon as it is ticked.
struct MonitorSettingsWrites {
    std::function<void(const MonitorSettings&)> window;
    std::function<void(bool startWithMeter)> startWithMeter;
};

struct RatePoint {
    double download = 0; // bytes a second
    double upload = 0;
    bool operator==(const RatePoint&) const = default;
};

struct SpanFigures {
    RatePoint current, average, peak;
};

class RateHistory {
public:
    static constexpr std::size_t kFinePoints = 1200;   // 2 minutes of 100 ms
    static constexpr std::size_t kCoarsePoints = 3600; // 1 hour of 1 s
    static constexpr std::size_t kFinePerCoarse = 10;

    // One 100 ms sample of the interface's byte counters (64-bit) taken
    // `elapsedMs` after the previous one. A counter that went back (a re-created
    // interface) and the first sample give no rate.
    void AddCounters(std::uint64_t received, std::uint64_t sent, std::uint32_t elapsedMs);
    // One rate sample, as AddCounters works it out.
    void Add(RatePoint rate);

    // Oldest first.
    const std::deque<RatePoint>& Points(Span span) const;
    SpanFigures Figures(Span span) const;
    // Whether every point of the span is the same: its picture hardly changes when
    // one more such point comes (a flat line only grows longer).
    bool Flat(Span span) const;
    // How many points the span was given so far.
    std::uint64_t Added(Span span) const {
        return span == Span::TwoMinutes ? m_fineAdded : m_coarseAdded;
    }

private:
    std::deque<RatePoint> m_fine, m_coarse;
    std::size_t m_fineRun = 0, m_coarseRun = 0; // trailing points equal to the last
    std::uint64_t m_fineAdded = 0, m_coarseAdded = 0;
    RatePoint m_pending; // fine samples summed towards the next coarse one
    std::size_t m_pendingCount = 0;
    std::optional<std::uint64_t> m_lastReceived, m_lastSent;
};

// A readable scale for a peak rate: a round maximum (1, 2 or 4 times a power of
// ten in its unit) and the unit it is best read in.
struct GraphScale {
    double maximum;                  // bytes a second at the top of the graph
    double unitBytes;                // 1000 for kB/s, 1,000,000 for MB/s
    std::string unit;                // "kB/s" or "MB/s"
    std::vector<std::string> labels; // from the bottom: 0, a quarter, ..., the maximum
};
GraphScale ScaleFor(double peak);

// A rate in the scale's unit, with one decimal where it helps.
std::string FormatRate(double bytesPerSecond);

} // namespace quantiro::monitor
