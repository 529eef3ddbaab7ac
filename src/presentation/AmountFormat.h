#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quantiro::presentation {

// The number formats of the meter's labels: digits grouped in threes by spaces (a
// 12-digit mask; longer numbers keep their extra digits in front, ungrouped), the
// locale's decimal separator, trimmed, then the unit.

// Received or sent total: "1 023.00 kB", "1.00 MB", "1.00 GB"; 0 shows ".00 kB".
std::string FormatAmount(double kilobytes, std::string_view decimalSeparator);

// The month's transfer: as FormatAmount, but below 1 kB the 0 stays: "0.00 kB".
std::string FormatMonthAmount(double kilobytes, std::string_view decimalSeparator);

// A speed in bits per second for the details list: "10 000 000".
std::string FormatSpeed(std::int32_t bitsPerSecond);

} // namespace quantiro::presentation
