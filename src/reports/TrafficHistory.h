#pragma once

#include "common/CalendarDate.h"
#include "platform/HourStore.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace quantiro::reports {

// Traffic of an hour or of a longer stretch: kB as the records hold them, and
// milliseconds on line. `recorded` tells a stretch with no record at all (shown
// empty) from one whose records say nothing was sent.
struct Traffic {
    std::int64_t download = 0;
    std::int64_t upload = 0;
    std::int64_t onlineMs = 0;
    bool recorded = false;
    void Add(const Traffic& other);
};

// The hourly records, read once and kept by day for the views and exports.
class TrafficHistory {
public:
    // Takes one record as stored. A record that is not a sound hour is skipped and
    // counted; a second record of an hour already taken is added to it.
    void Add(const platform::StoredRecord& record);

    Traffic Hour(const CalendarDate& day, int hour) const;
    // The days from `first` to `last`, both included.
    Traffic Days(const CalendarDate& first, const CalendarDate& last) const;

    std::optional<CalendarDate> FirstDay() const;
    std::optional<CalendarDate> LastDay() const;

    int SkippedRecords() const { return m_skipped; }
    int MergedRecords() const { return m_merged; }

private:
    struct Day {
        std::array<Traffic, 24> hours;
        Traffic total;
    };
    std::map<std::int32_t, Day> m_days; // by day number
    int m_skipped = 0;
    int m_merged = 0;
};

// The records dated `first` to `last`, or all of them without dates; with
// `network`, that network's rows of the hours instead (no time on line); with ""
// the hours' records less every known network's rows, the unknown network's. Throws
// platform::DatabaseError when the table cannot be read.
TrafficHistory LoadHistory(platform::HourStore& database,
                           const std::optional<CalendarDate>& first = std::nullopt,
                           const std::optional<CalendarDate>& last = std::nullopt,
                           const std::optional<std::string>& network = std::nullopt);

// "pominięto 3 rekordy" for the records that were left out; empty when none were.
std::string SkippedNote(const TrafficHistory& history);

} // namespace quantiro::reports
