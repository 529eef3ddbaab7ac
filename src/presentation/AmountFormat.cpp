#include "presentation/AmountFormat.h"

#include "common/DecimalText.h"

#include <cmath>

namespace quantiro::presentation {

namespace {

constexpr double kKilobytesPerMegabyte = 1024;
constexpr double kKilobytesPerGigabyte = 1024.0 * 1024.0;

// Digits fill the mask's places from the right; the mask's spaces separate groups
// of three. `places` is the number of digit places, so places / 3 - 1 separators.
std::string GroupDigits(const std::string& digits, int places) {
    const int separators = places / 3 - 1;
    std::string out;
    const int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        const int fromRight = n - i; // digits still to write, this one included
        out.push_back(digits[static_cast<std::size_t>(i)]);
        const int groupBoundary = fromRight - 1;
        if (groupBoundary > 0 && groupBoundary % 3 == 0 && groupBoundary / 3 <= separators) {
            out.push_back(' ');
        }
    }
    return out;
}

std::string FormatGroupDecimal(double value, bool leadingZero, std::string_view separator) {
    // Always a point here, whatever the process locale: the separator is added below.
    const std::string fixed = FixedDecimal(std::fabs(value), 2, ".");
    const auto point = fixed.find('.');
    std::string whole = fixed.substr(0, point);
    const std::string fraction = fixed.substr(point + 1);
    if (whole == "0" && !leadingZero) {
        whole.clear();
    }
    std::string out = value < 0 && fixed != "0.00" ? "-" : "";
    out += GroupDigits(whole, 12);
    out += separator;
    out += fraction;
    return out;
}

std::string WithUnit(double kilobytes, bool leadingZeroBelowOneKb, std::string_view separator) {
    if (kilobytes < kKilobytesPerMegabyte) {
        return FormatGroupDecimal(kilobytes, leadingZeroBelowOneKb, separator) + " kB";
    }
    if (kilobytes < kKilobytesPerGigabyte) {
        return FormatGroupDecimal(kilobytes / kKilobytesPerMegabyte, false, separator) + " MB";
    }
    return FormatGroupDecimal(kilobytes / kKilobytesPerMegabyte / kKilobytesPerMegabyte, false,
                              separator) +
           " GB";
}

} // namespace

std::string FormatAmount(double kilobytes, std::string_view decimalSeparator) {
    return WithUnit(kilobytes, false, decimalSeparator);
}

std::string FormatMonthAmount(double kilobytes, std::string_view decimalSeparator) {
    return WithUnit(kilobytes, true, decimalSeparator);
}

std::string FormatSpeed(std::int32_t bitsPerSecond) {
    const std::string digits = std::to_string(
        bitsPerSecond < 0 ? -static_cast<std::int64_t>(bitsPerSecond) : bitsPerSecond);
    const std::string grouped = digits == "0" ? std::string() : GroupDigits(digits, 9);
    return bitsPerSecond < 0 ? "-" + grouped : grouped;
}

} // namespace quantiro::presentation
