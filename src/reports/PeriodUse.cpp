#include "reports/PeriodUse.h"

#include <algorithm>
#include <cstdio>

namespace quantiro::reports {

namespace {

constexpr int kDaysBeforeEstimate = 3;

} // namespace

double CountedKb(const Traffic& traffic, limits::CountedDirection direction) {
    return limits::CountedKb(static_cast<double>(traffic.download),
                             static_cast<double>(traffic.upload), direction);
}

PeriodUse UseOfPeriod(const TrafficHistory& history, const limits::LimitSettings& settings,
                      const CalendarDate& today) {
    PeriodUse use;
    use.period = limits::PeriodContaining(today, settings.billingDay);
    use.traffic = history.Days(use.period.first, today);
    use.usedKb = CountedKb(use.traffic, settings.direction);
    use.limitKb = settings.LimitKb();
    use.fullDays = limits::DaysBetween(use.period.first, today);
    if (use.fullDays >= kDaysBeforeEstimate) {
        const CalendarDate yesterday = DateOfDay(DaysSinceEpoch(today) - 1);
        const double fullDaysKb =
            CountedKb(history.Days(use.period.first, yesterday), settings.direction);
        const double estimate =
            fullDaysKb / use.fullDays * (use.period.Days() - use.fullDays) + fullDaysKb;
        // Today may already be above the average day.
        use.estimateKb = std::max(estimate, use.usedKb);
    }
    return use;
}

std::string FormatOnlineTime(std::int64_t milliseconds) {
    const std::int64_t minutes = std::max<std::int64_t>(milliseconds, 0) / 60000;
    char text[48];
    if (minutes < 60) {
        std::snprintf(text, sizeof text, "%lld min", static_cast<long long>(minutes));
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", static_cast<long long>(minutes / 60),
                      static_cast<long long>(minutes % 60));
    }
    return text;
}

} // namespace quantiro::reports
