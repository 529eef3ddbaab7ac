#pragma once

#include "common/CalendarDate.h"
#include "platform/DesktopEntries.h"
#include "platform/HourStore.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::reports {

// Said once wherever application figures are asked for and the range has none.
inline constexpr std::string_view kApplicationsNeedCollector =
    "Dane o aplikacjach wymagają usługi quantiro-collector.";
// The row the applications past the largest ones are summed into.
inline constexpr std::string_view kRestName = "pozostałe";

// The stretch the applications are summed over: a day, a month, or the billing
// period holding `anchor`.
struct ApplicationRange {
    enum class Span { Day, Month, BillingPeriod };
    Span span = Span::Day;
    CalendarDate anchor;
    int billingDay = 1;

    CalendarDate First() const;
    CalendarDate Last() const;
    // The day, month or period before (-1) or after (+1).
    ApplicationRange Step(int direction) const;
    // "7 grudnia 2026", "grudzień 2026", "okres 2026-11-10 – 2026-12-09".
    std::string Title() const;
};

// One line of the applications' table, in kB.
struct ApplicationShare {
    enum class Kind { Application, Rest, Unattributed };
    Kind kind = Kind::Application;
    std::string application; // as recorded; empty for the rest
    std::int64_t download = 0;
    std::int64_t upload = 0;
    int shareTenths = 0; // tenths of a per cent of the range's traffic
    int folded = 0;      // applications summed into the rest
};

struct ApplicationShares {
    // The largest applications by received + sent, the rest in one row, and what
    // no program was seen to move in its own row last. The shares add up to 100 %.
    std::vector<ApplicationShare> rows;
    std::int64_t download = 0;
    std::int64_t upload = 0;
    bool recorded = false; // the range has rows at all
};

// The "aplikacje" rows, read once and kept by day.
class ApplicationHistory {
public:
    // A row with no sound date or with negative amounts is left out.
    void Add(const platform::StoredApplication& row);

    // Every application of the days first..last, largest first, nieprzypisane last;
    // shares are not worked out.
    std::vector<ApplicationShare> All(const CalendarDate& first, const CalendarDate& last) const;
    ApplicationShares Ranked(const CalendarDate& first, const CalendarDate& last,
                             std::size_t shown = 10) const;

private:
    struct Amount {
        std::int64_t download = 0;
        std::int64_t upload = 0;
    };
    std::map<std::int32_t, std::map<std::string, Amount, std::less<>>> m_days;
};

// The rows dated `first` to `last`, or all of them. Throws platform::DatabaseError.
ApplicationHistory LoadApplications(platform::HourStore& database,
                                    const std::optional<CalendarDate>& first = std::nullopt,
                                    const std::optional<CalendarDate>& last = std::nullopt);

// "12,5 %" with the separator given.
std::string FormatShare(int tenths, std::string_view decimalSeparator);
// The row's name on screen: the entry's name, "pozostałe (3)", or the text recorded.
std::string ShareName(const ApplicationShare& row, platform::DesktopEntries& entries);

// The ranked table as aligned text under a title line, or the note alone.
std::string ApplicationsText(const ApplicationShares& shares, std::string_view title,
                             platform::DesktopEntries& entries, std::string_view decimalSeparator);
// {"applications": [{"id": ..., "name": ..., "rx": kB, "tx": kB}, ...]} of `All`.
std::string ApplicationsJson(const std::vector<ApplicationShare>& all,
                             platform::DesktopEntries& entries);
// The ranked table as CSV (RFC 4180), amounts in bytes as the other exports.
std::string ApplicationsCsv(const ApplicationShares& shares, platform::DesktopEntries& entries);

} // namespace quantiro::reports
