#pragma once

#include <cstdint>

namespace quantiro::sampling {

// Half the range of a signed kilobyte sample of a 32-bit byte counter (2^31 / 1024):
// with it the total runs on without a jump when the sample changes sign.
inline constexpr std::int64_t kHalfRange = 2'097'152;

// The sign-change test: a move from positive to negative (the counter passed 2^31
// bytes) or from negative to positive (it wrapped past 2^32) is one half wrap. Zero
// lies on neither side. The sample is remembered for the next test either way.
inline bool SignChanged(double sample, double& previousSample) {
    const bool changed = (previousSample > 0 && sample < 0) || (previousSample < 0 && sample > 0);
    previousSample = sample;
    return changed;
}

// Turns a signed kilobyte sample into the ever-growing total, counting half wraps.
inline double ContinueTotal(std::int32_t sample, double& previousSample, std::int32_t& halfWraps) {
    if (SignChanged(sample, previousSample)) {
        ++halfWraps;
    }
    std::int64_t total = halfWraps * kHalfRange + sample;
    if (sample <= 0) {
        total += kHalfRange; // the sample is in the counter's upper half
    }
    return static_cast<double>(total);
}

} // namespace quantiro::sampling
