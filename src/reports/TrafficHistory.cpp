#include "reports/TrafficHistory.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <variant>

namespace quantiro::reports {

namespace {

// The meter keeps an hour in signed 32 bits and saves it only when every amount is
// above 0, so a negative or larger amount never came from it.
constexpr std::int64_t kLargestAmount = std::numeric_limits<std::int32_t>::max();
// An hour's record holds at most two hours on line: the hour that repeats when the
// clocks go back is one record.
constexpr std::int64_t kLongestHourMs = 2 * 3'600'000;

std::optional<std::int64_t> WholeNumber(const platform::FieldValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return *number;
    }
    if (const auto* real = std::get_if<double>(&value)) {
        if (std::isfinite(*real) && std::trunc(*real) == *real && std::fabs(*real) < 1e15) {
            return static_cast<std::int64_t>(*real);
        }
        return std::nullopt;
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        std::int64_t number = 0;
        const auto [end, error] =
            std::from_chars(text->data(), text->data() + text->size(), number);
        if (error == std::errc() && end == text->data() + text->size()) {
            return number;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> InRange(const platform::FieldValue& value, std::int64_t largest) {
    const auto number = WholeNumber(value);
    return number && *number >= 0 && *number <= largest ? number : std::nullopt;
}

} // namespace

void Traffic::Add(const Traffic& other) {
    download += other.download;
    upload += other.upload;
    onlineMs += other.onlineMs;
    recorded = recorded || other.recorded;
}

void TrafficHistory::Add(const platform::StoredRecord& record) {
    const auto* dateText = std::get_if<std::string>(&record.date);
    const auto date = dateText ? ParseIsoDate(*dateText) : std::nullopt;
    const auto hour = InRange(record.hour, 23);
    const auto time = InRange(record.time, kLongestHourMs);
    const auto download = InRange(record.download, kLargestAmount);
    const auto upload = InRange(record.upload, kLargestAmount);
    if (!date || !hour || !time || !download || !upload) {
        ++m_skipped;
        return;
    }
    const Traffic traffic{*download, *upload, *time, true};
    Day& day = m_days[DaysSinceEpoch(*date)];
    Traffic& slot = day.hours[static_cast<std::size_t>(*hour)];
    // Two records of one hour are both real traffic (the clock was set back, or the
    // hour repeated at the end of summer time), so they are added together.
    if (slot.recorded) {
        ++m_merged;
    }
    slot.Add(traffic);
    day.total.Add(traffic);
}

Traffic TrafficHistory::Hour(const CalendarDate& day, int hour) const {
    const auto found = m_days.find(DaysSinceEpoch(day));
    if (found == m_days.end() || hour < 0 || hour > 23) {
        return {};
    }
    return found->second.hours[static_cast<std::size_t>(hour)];
}

Traffic TrafficHistory::Days(const CalendarDate& first, const CalendarDate& last) const {
    Traffic sum;
    const auto end = m_days.upper_bound(DaysSinceEpoch(last));
    for (auto day = m_days.lower_bound(DaysSinceEpoch(first)); day != end; ++day) {
        sum.Add(day->second.total);
    }
    return sum;
}

std::optional<CalendarDate> TrafficHistory::FirstDay() const {
    return m_days.empty() ? std::nullopt : std::optional(DateOfDay(m_days.begin()->first));
}

std::optional<CalendarDate> TrafficHistory::LastDay() const {
    return m_days.empty() ? std::nullopt : std::optional(DateOfDay(m_days.rbegin()->first));
}

namespace {

// The hours' records less every known network's rows of the same hour: what was
// recorded before networks were, or while none was known.
TrafficHistory LoadUnknownNetworkHistory(platform::HourStore& database,
                                         const std::optional<CalendarDate>& first,
                                         const std::optional<CalendarDate>& last) {
    const std::string from = first ? FormatIsoDate(*first) : "0000-01-01";
    const std::string to = last ? FormatIsoDate(*last) : "9999-12-31";
    struct Known {
        std::int64_t download = 0;
        std::int64_t upload = 0;
    };
    std::map<std::pair<std::string, std::int64_t>, Known> known;
    for (const platform::StoredNetwork& stored : database.ReadNetworks(from, to)) {
        database.ReadNetworkHours(
            stored.network.id, from, to, [&](const platform::StoredRecord& row) {
                const auto* date = std::get_if<std::string>(&row.date);
                const auto* hour = std::get_if<std::int64_t>(&row.hour);
                const auto* download = std::get_if<std::int64_t>(&row.download);
                const auto* upload = std::get_if<std::int64_t>(&row.upload);
                if (date && hour && download && upload) {
                    Known& sum = known[{*date, *hour}];
                    sum.download += *download;
                    sum.upload += *upload;
                }
            });
    }
    TrafficHistory history;
    database.ReadRecords(first ? from : "", last ? to : "", [&](platform::StoredRecord record) {
        const auto* date = std::get_if<std::string>(&record.date);
        const auto* hour = std::get_if<std::int64_t>(&record.hour);
        auto* download = std::get_if<std::int64_t>(&record.download);
        auto* upload = std::get_if<std::int64_t>(&record.upload);
        if (date && hour && download && upload) {
            if (const auto found = known.find({*date, *hour}); found != known.end()) {
                // Taken from the hour's first record, the rest from a second one.
                Known& left = found->second;
                const std::int64_t down = std::min(*download, left.download);
                const std::int64_t up = std::min(*upload, left.upload);
                *download -= down;
                *upload -= up;
                left.download -= down;
                left.upload -= up;
                // The hour's time on line was a known network's.
                record.time = std::int64_t{0};
            }
        }
        history.Add(record);
    });
    return history;
}

} // namespace

TrafficHistory LoadHistory(platform::HourStore& database, const std::optional<CalendarDate>& first,
                           const std::optional<CalendarDate>& last,
                           const std::optional<std::string>& network) {
    TrafficHistory history;
    const auto add = [&](const platform::StoredRecord& record) {
        history.Add(record);
    };
    if (network && network->empty()) {
        return LoadUnknownNetworkHistory(database, first, last);
    }
    if (network) {
        // Dates compare as text, so these two hold every date there can be.
        database.ReadNetworkHours(*network, first ? FormatIsoDate(*first) : "0000-01-01",
                                  last ? FormatIsoDate(*last) : "9999-12-31", add);
        return history;
    }
    database.ReadRecords(first ? FormatIsoDate(*first) : "", last ? FormatIsoDate(*last) : "", add);
    return history;
}

std::string SkippedNote(const TrafficHistory& history) {
    const int n = history.SkippedRecords();
    if (n == 0) {
        return {};
    }
    // Polish plurals: 1 rekord, 2-4 rekordy (not 12-14), otherwise rekordów.
    const char* noun = n == 1 ? "rekord"
                       : (n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 12 || n % 100 > 14))
                           ? "rekordy"
                           : "rekordów";
    return "pominięto " + std::to_string(n) + " " + noun +
           " z niepoprawną datą, godziną lub wartością";
}

} // namespace quantiro::reports
