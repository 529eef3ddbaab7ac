#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quantiro::presentation {

// The bars' maxima and the numbers on their scales, worked out from the nominal
// speed settings. Maxima are in rate units (kilobytes per second x 1000).
struct RateScale {
    std::int32_t downloadScaleBase = 0;
    std::int32_t uploadScaleBase = 0;
    std::int32_t downloadMaximum = 0;
    std::int32_t uploadMaximum = 0;
    // Bottom tick first.
    std::array<std::string, 10> downloadLabels;
    std::array<std::string, 10> uploadLabels;
};

// The whole-number appearance setting of the bars: the share of the maximum (in
// percent) up to which a bar is drawn in its normal colour.
inline constexpr int kBarWarningPercent = 70;

// Sets up both scales from the nominal speeds "Download" and "Upload" hold.
RateScale ScaleForSpeeds(std::int32_t downloadSpeed, std::int32_t uploadSpeed);

// The value a bar shows for a rate: the rate itself below the maximum, else the maximum.
double BarValue(double rate, std::int32_t maximum);

} // namespace quantiro::presentation
