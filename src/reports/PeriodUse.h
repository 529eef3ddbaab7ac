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
    int days = 0;       // days of the period so far, today included
    // The use so far at its pace over the time the period has run, today's part
    // included; none on the first day, when an hour or two would make an absurd month.
    std::optional<double> estimateKb;
};

PeriodUse UseOfPeriod(const TrafficHistory& history, const limits::LimitSettings& settings,
                      const limits::Moment& now);

// What an estimate stands on: "(na podstawie 7 dni)"; from the second day on.
std::string EstimateBasis(int days);

// What of the traffic counts against the limit: received, sent or both.
double CountedKb(const Traffic& traffic, limits::CountedDirection direction);

// "12 h 05 min", "7 min": time on line.
std::string FormatOnlineTime(std::int64_t milliseconds);

} // namespace quantiro::reports
