#pragma once

#include <string>
#include <string_view>

namespace quantiro {

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
