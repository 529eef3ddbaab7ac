#pragma once

#include "reports/TrafficHistory.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::reports {

enum class Grouping { Hour, Day, Month, Year };

// One line of a report: an hour (hour 0-23 of `first`) or the days first..last.
struct Row {
    CalendarDate first;
    CalendarDate last;
    int hour = -1;
    Traffic traffic;
};

// The hours, days, months or years from `first` to `last`, each clipped to the
// range, in order; those without records are there with `recorded` false.
std::vector<Row> Rows(const TrafficHistory& history, Grouping by, const CalendarDate& first,
                      const CalendarDate& last);

// "2026-12-06 09:00", "2026-12-06", "2026-12", "2026".
std::string RowLabel(const Row& row, Grouping by);

// The export's words for a grouping: hour, day, month, year.
std::optional<Grouping> GroupingNamed(std::string_view name);
std::string_view GroupingName(Grouping by);

// What the window shows: the hours of a day, the days of a month, the months of a
// year, or every year there are records of.
struct ShownPeriod {
    Grouping by = Grouping::Day;
    CalendarDate anchor; // a day inside the period

    CalendarDate First(const TrafficHistory& history) const;
    CalendarDate Last(const TrafficHistory& history) const;
    // The period before (-1) or after (+1) this one; the years have no neighbour.
    ShownPeriod Step(int direction) const;
    bool CanStep() const { return by != Grouping::Year; }
    // "6 grudnia 2026", "grudzień 2026", "2026", "wszystkie lata".
    std::string Title() const;
};

// The reports window's views, in the order of its tabs.
enum class View { Hours, Days, Months, Years, Applications, Networks };

// The view a word of the window's command line opens; nullopt for a word that
// names none.
std::optional<View> ViewNamed(std::string_view word);
// Every view's word, in the tabs' order: "godziny, dni, miesiace, lata, aplikacje,
// sieci".
std::string ViewWords();

// "grudzień"; months 1-12.
std::string_view MonthName(int month);

} // namespace quantiro::reports
