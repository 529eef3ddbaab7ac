#include "presentation/RateScale.h"

#include "common/Rounding.h"

#include <cmath>
#include <limits>

namespace quantiro::presentation {

namespace {

constexpr double kScaleHeadroom = 1.1;
constexpr std::int64_t kMaximumPerBase = 200;
constexpr int kIntervals = 9;

// A maximum that would not fit 32 bits is held at the largest one that does.
std::int32_t Maximum(std::int32_t scaleBase) {
    const std::int64_t product = std::int64_t{scaleBase} * kMaximumPerBase;
    if (product > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (product < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(product);
}

std::array<std::string, 10> Labels(std::int32_t maximum) {
    const std::int16_t step = RoundToInt16(static_cast<double>(maximum) / 1000 / kIntervals);
    std::array<std::string, 10> labels;
    for (int i = 0; i < 10; ++i) {
        labels[static_cast<std::size_t>(i)] =
            std::to_string(static_cast<long long>(std::floor(i * step / 2.0)));
    }
    return labels;
}

} // namespace

RateScale ScaleForSpeeds(std::int32_t downloadSpeed, std::int32_t uploadSpeed) {
    RateScale scale;
    scale.downloadScaleBase = RoundToInt32(downloadSpeed * kScaleHeadroom);
    scale.uploadScaleBase = RoundToInt32(uploadSpeed * kScaleHeadroom);
    scale.downloadMaximum = Maximum(scale.downloadScaleBase);
    scale.uploadMaximum = Maximum(scale.uploadScaleBase);
    scale.downloadLabels = Labels(scale.downloadMaximum);
    scale.uploadLabels = Labels(scale.uploadMaximum);
    return scale;
}

double BarValue(double rate, std::int32_t maximum) {
    return rate < maximum ? rate : maximum;
}

} // namespace quantiro::presentation
