#pragma once

#include "limits/LimitCheck.h"
#include "reports/ApplicationUse.h"
#include "reports/ReportRows.h"

#include <optional>
#include <string>
#include <string_view>

namespace quantiro::reports {

// CSV (RFC 4180: CRLF line ends, quoted where needed) with a header row: one line
// per hour, day, month or year from `first` to `last`; a period without records
// has its amounts empty. Amounts in bytes (the records' kB × 1024).
std::string CsvReport(const TrafficHistory& history, Grouping by, const CalendarDate& first,
                      const CalendarDate& last);

struct JsonHeader {
    std::string interfaceName;
    CalendarDate today;
    int hour = 0;
    int minute = 0;
};

// JSON in the shape of vnStat's --json output, version 2: interfaces → traffic →
// total and the lists hour, day, month and year (only `by`'s when it is given),
// each entry a period with records, rx and tx in bytes.
std::string JsonReport(const TrafficHistory& history, const std::optional<Grouping>& by,
                       const CalendarDate& first, const CalendarDate& last,
                       const JsonHeader& header);

// Today, this month, the billing period and its estimate, as aligned text; under
// each of the three the local network's traffic, when it has some.
std::string SummaryText(const TrafficHistory& history, const ApplicationHistory& applications,
                        const limits::LimitSettings& settings, LocalCounting counting,
                        const limits::Moment& now, std::string_view decimalSeparator);

// A field as RFC 4180 writes it: in double quotes (doubled inside) when it holds a
// comma, a quote or a line break.
std::string CsvField(std::string_view text);

// A JSON string literal of UTF-8 text, quotes, backslashes and control characters
// escaped.
std::string JsonString(std::string_view text);

// Pads to a width in characters, not bytes: the labels hold Polish letters.
std::string Padded(const std::string& text, std::size_t width, bool right = false);

} // namespace quantiro::reports
