#include "limits/BillingPeriod.h"

#include <algorithm>

namespace quantiro::limits {

namespace {

// The day the period starts in the given month.
CalendarDate StartIn(int year, int month, int billingDay) {
    if (month < 1) {
        month += 12;
        --year;
    } else if (month > 12) {
        month -= 12;
        ++year;
    }
    return {year, month, std::min(billingDay, DaysInMonth(year, month))};
}

CalendarDate DayBefore(const CalendarDate& day) {
    if (day.day > 1) {
        return {day.year, day.month, day.day - 1};
    }
    const int month = day.month == 1 ? 12 : day.month - 1;
    const int year = day.month == 1 ? day.year - 1 : day.year;
    return {year, month, DaysInMonth(year, month)};
}

} // namespace

int DaysBetween(const CalendarDate& from, const CalendarDate& to) {
    return DaysSinceEpoch(to.year, to.month, to.day) -
           DaysSinceEpoch(from.year, from.month, from.day);
}

int Period::Days() const {
    return DaysBetween(first, last) + 1;
}

Period PeriodContaining(const CalendarDate& day, int billingDay) {
    billingDay = std::clamp(billingDay, 1, 31);
    CalendarDate first = StartIn(day.year, day.month, billingDay);
    if (day < first) {
        first = StartIn(day.year, day.month - 1, billingDay);
    }
    const CalendarDate next = StartIn(first.year, first.month + 1, billingDay);
    return {first, DayBefore(next)};
}

} // namespace quantiro::limits
