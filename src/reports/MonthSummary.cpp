#include "reports/MonthSummary.h"

#include "presentation/AmountFormat.h"
#include "reports/PeriodUse.h"
#include "reports/ReportRows.h"

#include <cmath>
#include <cstdio>

namespace quantiro::reports {

std::string FormatYearMonth(const YearMonth& month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", month.year % 10000, month.month % 100);
    return text;
}

std::optional<YearMonth> ParseYearMonth(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    const std::string day = std::string(text) + "-01";
    const auto date = ParseIsoDate(day);
    return date ? std::optional(YearMonth{date->year, date->month}) : std::nullopt;
}

YearMonth MonthBefore(const CalendarDate& today) {
    return today.month == 1 ? YearMonth{today.year - 1, 12}
                            : YearMonth{today.year, today.month - 1};
}

std::optional<YearMonth> MonthDue(const std::optional<YearMonth>& lastSummarised,
                                  const CalendarDate& today) {
    const YearMonth ended = MonthBefore(today);
    if (lastSummarised && *lastSummarised >= ended) {
        return std::nullopt;
    }
    return ended;
}

MonthNotice DescribeMonth(const YearMonth& month, const Traffic& traffic,
                          const limits::LimitSettings& settings,
                          std::string_view decimalSeparator) {
    const auto amount = [&](double kilobytes) {
        return presentation::FormatMonthAmount(kilobytes, decimalSeparator);
    };
    MonthNotice notice;
    notice.summary = "Podsumowanie miesiąca: " + std::string(MonthName(month.month)) + " " +
                     std::to_string(month.year);
    notice.body = "Odebrano: " + amount(static_cast<double>(traffic.download)) +
                  "\nWysłano: " + amount(static_cast<double>(traffic.upload)) +
                  "\nCzas online: " + FormatOnlineTime(traffic.onlineMs);
    if (settings.limitMb > 0) {
        const double share = CountedKb(traffic, settings.direction) * 100 / settings.LimitKb();
        notice.body += "\nTo " + std::to_string(std::llround(share)) + " % limitu (" +
                       amount(settings.LimitKb()) + ")";
    }
    return notice;
}

} // namespace quantiro::reports
