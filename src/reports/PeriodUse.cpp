#include "reports/PeriodUse.h"

#include <algorithm>
#include <cstdio>

namespace quantiro::reports {

double CountedKb(const Traffic& traffic, limits::CountedDirection direction) {
    return limits::CountedKb(static_cast<double>(traffic.download),
                             static_cast<double>(traffic.upload), direction);
}

PeriodUse UseOfPeriod(const TrafficHistory& history, const limits::LimitSettings& settings,
                      const limits::Moment& now) {
    PeriodUse use;
    use.period = limits::PeriodContaining(now.today, settings.billingDay);
    use.traffic = history.Days(use.period.first, now.today);
    use.usedKb = CountedKb(use.traffic, settings.direction);
    use.limitKb = settings.LimitKb();
    use.days = limits::DaysBetween(use.period.first, now.today) + 1;
    if (use.days > 1) {
        const double elapsedDays = use.days - 1 + std::clamp(now.dayFraction, 0.0, 1.0);
        use.estimateKb = use.usedKb / elapsedDays * use.period.Days();
    }
    return use;
}

std::string EstimateBasis(int days) {
    // Two days and more take "dni" after "na podstawie", whatever the number.
    return "(na podstawie " + std::to_string(days) + " dni)";
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
