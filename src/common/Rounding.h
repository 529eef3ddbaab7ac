#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace quantiro {

// Every double-to-whole conversion in the meter rounds to nearest with ties to even
// (1.5 -> 2, 2.5 -> 2). std::nearbyint does that in the default rounding mode;
// std::round would send ties away from zero and drift the hourly sums.
inline double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

// Converting an out-of-range double is undefined behaviour, so saturate instead:
// an accumulator pinned at its limit is visible, a wrapped one is not.
inline std::int32_t RoundToInt32(double value) {
    const double rounded = RoundHalfEven(value);
    if (std::isnan(rounded)) {
        return 0;
    }
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(rounded);
}

inline std::int16_t RoundToInt16(double value) {
    const std::int32_t wide = RoundToInt32(value);
    if (wide > std::numeric_limits<std::int16_t>::max()) {
        return std::numeric_limits<std::int16_t>::max();
    }
    if (wide < std::numeric_limits<std::int16_t>::min()) {
        return std::numeric_limits<std::int16_t>::min();
    }
    return static_cast<std::int16_t>(wide);
}

} // namespace quantiro
