#pragma once

#include <cstdint>

namespace quantiro::sampling {

// Half the range of a signed kilobyte sample of a 32-bit byte counter (2^31 / 1024):
// with it the total runs on without a jump when the sample changes sign.
inline constexpr std::int64_t kHalfRange = 2'097'152;

// One counter's side of the sign test. Positive at start, so a counter that is
// already in its upper half at the first tick counts as one half wrap. Half wraps
// are kept 32-bit: 16 bits would overflow after 64 TiB, a day of 10 Gbit/s.
struct CounterTrack {
    std::int32_t lastNonZeroSample = 1;
    std::int32_t halfWraps = 0;
};

// Turns a signed kilobyte sample into the ever-growing total. A move from positive
// to negative (the counter passed 2^31 bytes) or back (it wrapped past 2^32) is one
// half wrap. A sample of exactly 0 lies on neither side: it counts on the side of
// the previous non-zero sample and does not replace it, so a counter that lands on
// 0, or a fresh interface that starts there, neither gains nor loses a half range.
inline double ContinueTotal(std::int32_t sample, CounterTrack& track) {
    if (sample != 0) {
        if ((track.lastNonZeroSample > 0) != (sample > 0)) {
            ++track.halfWraps;
        }
        track.lastNonZeroSample = sample;
    }
    const bool upperHalf = sample < 0 || (sample == 0 && track.lastNonZeroSample < 0);
    const std::int64_t total =
        std::int64_t{track.halfWraps} * kHalfRange + sample + (upperHalf ? kHalfRange : 0);
    return static_cast<double>(total);
}

} // namespace quantiro::sampling
