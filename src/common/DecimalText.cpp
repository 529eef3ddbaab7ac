#include "common/DecimalText.h"

#include <charconv>
#include <clocale>

#include <langinfo.h>
#include <locale.h>

namespace quantiro {

std::string FixedDecimal(double value, int decimals, std::string_view separator) {
    char text[400];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string out(text, error == std::errc() ? end : text);
    if (const auto point = out.find('.'); point != std::string::npos) {
        out.replace(point, 1, separator);
    }
    return out;
}

std::string EnvironmentDecimalSeparator() {
    const locale_t environment = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (environment == static_cast<locale_t>(nullptr)) {
        return ".";
    }
    std::string separator = ::nl_langinfo_l(RADIXCHAR, environment);
    ::freelocale(environment);
    return separator.empty() ? "." : separator;
}

} // namespace quantiro
