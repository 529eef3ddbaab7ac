#pragma once

#include "sampling/ContinuousTotal.h"

#include <cstdint>

namespace quantiro::sampling {

// The program-wide sampling state: one instance, owned by the meter and passed to
// every part that reads or feeds it. Amounts are kilobytes (1024 bytes); rates and
// limits are in rate units, kilobytes per second x 1000.
struct SamplingState {
    // Continuous totals of the monitored interfaces since the meter started.
    double totalReceived = 0;
    double totalSent = 0;
    CounterTrack receivedTrack;
    CounterTrack sentTrack;

    // The current hour's accumulators: milliseconds on line and kilobytes.
    std::int32_t hourTime = 0;
    std::int32_t hourDownload = 0;
    std::int32_t hourUpload = 0;

    // The month's downloads recorded before this run; shown as monthBase + totalReceived.
    double monthBase = 0;
    // Every tick's kilobytes reach the hour, not only those of ticks over 1 kB.
    bool exactCounting = false;

    // Plausibility limits (kilobytes per second) and the verdict of the latest tick.
    double limitDownload = 0;
    double limitUpload = 0;
    bool rateCheckEnabled = false;
    bool rateExceeded = false;

    // Flags set by start-up, the settings reload and the close.
    bool warningsEnabled = false;
    bool onTop = false;
    bool autoUpdateEnabled = false;
    bool systemShuttingDown = false;
};

} // namespace quantiro::sampling
