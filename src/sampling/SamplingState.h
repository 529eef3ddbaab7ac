#pragma once

#include <cstdint>

namespace quantiro::sampling {

// The program-wide sampling state: one instance, owned by the meter and passed to
// every part that reads or feeds it. Amounts are kilobytes (1024 bytes); rates and
// limits are in rate units, kilobytes per second x 1000.
struct SamplingState {
    // Continuous totals of the monitored interface since its counters last started.
    double totalReceived = 0;
    double totalSent = 0;
    // Sign changes of the received (sent) sample: each is half a counter wrap. Kept
    // 32-bit: a 16-bit count would overflow after 64 TiB, a day of 10 Gbit/s traffic.
    std::int32_t receivedHalfWraps = 0;
    std::int32_t sentHalfWraps = 0;
    // Previous samples of the sign-change test. Positive at start, so a counter that
    // is already in its upper half at the first tick counts as one half wrap.
    double lastReceivedSample = 1.0;
    double lastSentSample = 1.0;

    // The current hour's accumulators: milliseconds on line and kilobytes.
    std::int32_t hourTime = 0;
    std::int32_t hourDownload = 0;
    std::int32_t hourUpload = 0;

    // The month's downloads before this run; shown as monthBase + totalReceived.
    double monthBase = 0;

    // Plausibility limits (kilobytes per second) and the verdict of the latest tick.
    double limitDownload = 0;
    double limitUpload = 0;
    bool rateCheckEnabled = false;
    bool rateExceeded = false;

    // Flags of the meter set by start-up and the settings reload.
    bool WarningsEnabled = false;
    bool OnTopFlag = false;
    bool AutoUpdateEnabled = false;
    bool SystemShuttingDown = false;
};

} // namespace quantiro::sampling
