#pragma once

#include "common/CalendarDate.h"

namespace quantiro::limits {

// A billing period, first and last day included. It starts on the billing day of a
// month, or on the month's last day when the month is shorter.
struct Period {
    CalendarDate first;
    CalendarDate last;
    bool operator==(const Period&) const = default;
    int Days() const;
};

Period PeriodContaining(const CalendarDate& day, int billingDay);
int DaysBetween(const CalendarDate& from, const CalendarDate& to);

} // namespace quantiro::limits
