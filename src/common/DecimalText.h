#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace quantiro {

// `text` as a number written the way programs write them ("-12", "0.5"), with
// nothing before or after it; nullopt for anything else, the empty text included.
template <typename Number> std::optional<Number> ParseWholeText(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Numbers for people: fixed decimals with the user's separator. Both leave the
// process locale alone and never depend on it, since Qt sets LC_NUMERIC from the
// environment and printf's "%f" would then put a comma where code expects a point.

// `value` with `decimals` places, rounded half to even, `separator` between the
// whole and the fraction: FixedDecimal(29.955, 2, ",") is "29,96".
std::string FixedDecimal(double value, int decimals, std::string_view separator);

// The decimal separator of the locale the environment names for numbers (LC_ALL,
// LC_NUMERIC, LANG): "," under pl_PL, "." under C; "." when that locale is missing.
std::string EnvironmentDecimalSeparator();

} // namespace quantiro
