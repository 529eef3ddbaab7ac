#pragma once

#include "limits/BillingPeriod.h"
#include "limits/LimitCheck.h"
#include "reports/TrafficHistory.h"

#include <optional>
#include <string>

namespace quantiro::reports {

// The billing period holding today, as far as the records go.
struct PeriodUse {
    limits::Period period;
    Traffic traffic;
    double usedKb = 0;  // what counts against the limit
    double limitKb = 0; // 0: no limit
    int fullDays = 0;   // days of the period before today
    // At the pace of the full days so far; none before three of them, when an early
    // morning would make an absurd month.
    std::optional<double> estimateKb;
};

PeriodUse UseOfPeriod(const TrafficHistory& history, const limits::LimitSettings& settings,
                      const CalendarDate& today);

// What of the traffic counts against the limit: received, sent or both.
double CountedKb(const Traffic& traffic, limits::CountedDirection direction);

// "12 h 05 min", "7 min": time on line.
std::string FormatOnlineTime(std::int64_t milliseconds);

} // namespace quantiro::reports
