#include "reports/ReportRows.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quantiro::reports {

namespace {

constexpr std::array<std::string_view, 12> kMonths{
    "styczeń", "luty",     "marzec",   "kwiecień",    "maj",      "czerwiec",
    "lipiec",  "sierpień", "wrzesień", "październik", "listopad", "grudzień"};
constexpr std::array<std::string_view, 12> kMonthsOfDay{
    "stycznia", "lutego",   "marca",    "kwietnia",     "maja",      "czerwca",
    "lipca",    "sierpnia", "września", "października", "listopada", "grudnia"};

// The command line's words for the views, in View's order.
constexpr std::array<std::string_view, 6> kViewWords{"godziny", "dni",       "miesiace",
                                                     "lata",    "aplikacje", "sieci"};

CalendarDate EndOfMonth(int year, int month) {
    return {year, month, DaysInMonth(year, month)};
}

// The first day of the grouping's bucket holding `day`, and the bucket's last day.
CalendarDate BucketStart(Grouping by, const CalendarDate& day) {
    switch (by) {
    case Grouping::Month:
        return {day.year, day.month, 1};
    case Grouping::Year:
        return {day.year, 1, 1};
    default:
        return day;
    }
}

CalendarDate BucketEnd(Grouping by, const CalendarDate& start) {
    switch (by) {
    case Grouping::Month:
        return EndOfMonth(start.year, start.month);
    case Grouping::Year:
        return {start.year, 12, 31};
    default:
        return start;
    }
}

CalendarDate NextDay(const CalendarDate& day) {
    return DateOfDay(DaysSinceEpoch(day) + 1);
}

} // namespace

std::vector<Row> Rows(const TrafficHistory& history, Grouping by, const CalendarDate& first,
                      const CalendarDate& last) {
    std::vector<Row> rows;
    for (CalendarDate start = first; start <= last;) {
        const CalendarDate bucketEnd = std::min(BucketEnd(by, BucketStart(by, start)), last);
        if (by == Grouping::Hour) {
            for (int hour = 0; hour < 24; ++hour) {
                rows.push_back({start, start, hour, history.Hour(start, hour)});
            }
        } else {
            rows.push_back({start, bucketEnd, -1, history.Days(start, bucketEnd)});
        }
        start = NextDay(bucketEnd);
    }
    return rows;
}

std::string RowLabel(const Row& row, Grouping by) {
    char text[32];
    switch (by) {
    case Grouping::Hour:
        std::snprintf(text, sizeof text, "%s %02d:00", FormatIsoDate(row.first).c_str(), row.hour);
        return text;
    case Grouping::Day:
        return FormatIsoDate(row.first);
    case Grouping::Month:
        std::snprintf(text, sizeof text, "%04d-%02d", row.first.year, row.first.month);
        return text;
    case Grouping::Year:
        break;
    }
    return std::to_string(row.first.year);
}

std::optional<Grouping> GroupingNamed(std::string_view name) {
    for (const Grouping by : {Grouping::Hour, Grouping::Day, Grouping::Month, Grouping::Year}) {
        if (GroupingName(by) == name) {
            return by;
        }
    }
    return std::nullopt;
}

std::string_view GroupingName(Grouping by) {
    constexpr std::array<std::string_view, 4> kNames{"hour", "day", "month", "year"};
    return kNames[static_cast<std::size_t>(by)];
}

std::optional<View> ViewNamed(std::string_view word) {
    for (std::size_t i = 0; i < kViewWords.size(); ++i) {
        if (kViewWords[i] == word) {
            return static_cast<View>(i);
        }
    }
    return std::nullopt;
}

std::string ViewWords() {
    std::string words;
    for (const std::string_view word : kViewWords) {
        words += (words.empty() ? "" : ", ") + std::string(word);
    }
    return words;
}

std::string_view MonthName(int month) {
    return kMonths[static_cast<std::size_t>(std::clamp(month, 1, 12) - 1)];
}

CalendarDate ShownPeriod::First(const TrafficHistory& history) const {
    switch (by) {
    case Grouping::Hour:
        return anchor;
    case Grouping::Day:
        return {anchor.year, anchor.month, 1};
    case Grouping::Month:
        return {anchor.year, 1, 1};
    case Grouping::Year:
        break;
    }
    return {std::min(history.FirstDay().value_or(anchor), anchor).year, 1, 1};
}

CalendarDate ShownPeriod::Last(const TrafficHistory& history) const {
    switch (by) {
    case Grouping::Hour:
        return anchor;
    case Grouping::Day:
        return EndOfMonth(anchor.year, anchor.month);
    case Grouping::Month:
        return {anchor.year, 12, 31};
    case Grouping::Year:
        break;
    }
    return {std::max(history.LastDay().value_or(anchor), anchor).year, 12, 31};
}

ShownPeriod ShownPeriod::Step(int direction) const {
    switch (by) {
    case Grouping::Hour:
        return {by, DateOfDay(DaysSinceEpoch(anchor) + direction)};
    case Grouping::Day: {
        const int months = anchor.year * 12 + anchor.month - 1 + direction;
        const int year = months / 12, month = months % 12 + 1;
        return {by, {year, month, std::min(anchor.day, DaysInMonth(year, month))}};
    }
    case Grouping::Month: {
        const int year = anchor.year + direction;
        return {by, {year, anchor.month, std::min(anchor.day, DaysInMonth(year, anchor.month))}};
    }
    case Grouping::Year:
        break;
    }
    return *this;
}

std::string ShownPeriod::Title() const {
    switch (by) {
    case Grouping::Hour:
        return std::to_string(anchor.day) + " " +
               std::string(kMonthsOfDay[static_cast<std::size_t>(anchor.month - 1)]) + " " +
               std::to_string(anchor.year);
    case Grouping::Day:
        return std::string(MonthName(anchor.month)) + " " + std::to_string(anchor.year);
    case Grouping::Month:
        return std::to_string(anchor.year);
    case Grouping::Year:
        break;
    }
    return "wszystkie lata";
}

} // namespace quantiro::reports
