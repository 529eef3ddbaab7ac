#pragma once

#include "limits/LimitCheck.h"
#include "reports/TrafficHistory.h"

#include <compare>
#include <optional>
#include <string>
#include <string_view>

// The start-up summary: once a month has ended, one notice of what it carried.
namespace quantiro::reports {

struct YearMonth {
    int year = 0;
    int month = 0;
    auto operator<=>(const YearMonth&) const = default;
};

// "2026-11"; the state file keeps the last month summarised this way.
std::string FormatYearMonth(const YearMonth& month);
std::optional<YearMonth> ParseYearMonth(std::string_view text);

// The month a summary is due for: the one before today's, unless that one (or a
// later one, after the clock went back) was summarised already. Only the latest
// ended month is told of, however long the program was away.
std::optional<YearMonth> MonthDue(const std::optional<YearMonth>& lastSummarised,
                                  const CalendarDate& today);

YearMonth MonthBefore(const CalendarDate& today);

struct MonthNotice {
    std::string summary;
    std::string body;
};

MonthNotice DescribeMonth(const YearMonth& month, const Traffic& traffic,
                          const limits::LimitSettings& settings, std::string_view decimalSeparator);

} // namespace quantiro::reports
