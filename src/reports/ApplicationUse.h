#pragma once

#include "common/CalendarDate.h"
#include "platform/DesktopEntries.h"
#include "platform/HourStore.h"

#include <array>
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
// The applications named before the rest.
inline constexpr std::size_t kNamedApplications = 10;

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

// What was exchanged with the local network, kB.
struct LocalTraffic {
    std::int64_t download = 0;
    std::int64_t upload = 0;
    std::int64_t Total() const { return download + upload; }
};

// How the local network's traffic stands to the figures beside it: with
// TylkoInternet off it is a part of them, with it on it was left out of them.
enum class LocalCounting { Included, LeftOut };

// "w tym sieć lokalna" or "sieć lokalna, nie wliczona".
std::string_view LocalLabel(LocalCounting counting);
// "w tym sieć lokalna: 1,50 GB" or "sieć lokalna, nie wliczona: 1,50 GB"; empty
// when nothing local was recorded.
std::string LocalNote(std::int64_t kilobytes, LocalCounting counting,
                      std::string_view decimalSeparator);

// One line of the applications' table, in kB.
struct ApplicationShare {
    enum class Kind { Application, Rest, Unattributed };
    Kind kind = Kind::Application;
    std::string application; // as recorded; empty for the rest
    std::int64_t download = 0;
    std::int64_t upload = 0;
    LocalTraffic local;
    int shareTenths = 0; // tenths of a per cent of the range's traffic
    int folded = 0;      // applications summed into the rest
};

struct ApplicationShares {
    // The largest applications by received + sent, the rest in one row, and what
    // no program was seen to move in its own row last. The shares add up to 100 %.
    std::vector<ApplicationShare> rows;
    std::int64_t download = 0;
    std::int64_t upload = 0;
    LocalTraffic local;
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
    // Counting billed traffic only (`LeftOut`), the applications rank by what they
    // moved with the local network's part beside the figures, so that a copy from a
    // NAS is named, not folded into the rest; the shares stay of the figures.
    ApplicationShares Ranked(const CalendarDate& first, const CalendarDate& last,
                             std::size_t shown = kNamedApplications,
                             LocalCounting counting = LocalCounting::Included) const;

    // The local network's traffic of the days first..last, or of an hour of a day.
    LocalTraffic Local(const CalendarDate& first, const CalendarDate& last) const;
    LocalTraffic LocalHour(const CalendarDate& day, int hour) const;

private:
    struct Amount {
        std::int64_t download = 0;
        std::int64_t upload = 0;
        LocalTraffic local;
    };
    // Only the days with local traffic, by hour for the hours' view.
    struct LocalDay {
        std::array<LocalTraffic, 24> hours;
        LocalTraffic total;
    };
    std::map<std::int32_t, std::map<std::string, Amount, std::less<>>> m_days;
    std::map<std::int32_t, LocalDay> m_local;
};

// The rows dated `first` to `last`, or all of them; with `network`, only the rows
// of the network with that id. Throws platform::DatabaseError.
ApplicationHistory LoadApplications(platform::HourStore& database,
                                    const std::optional<CalendarDate>& first = std::nullopt,
                                    const std::optional<CalendarDate>& last = std::nullopt,
                                    const std::optional<std::string>& network = std::nullopt);

// Each amount's share of their sum in tenths of a per cent, by the largest
// remainder, so that the shares shown add up to exactly 100 % however they round.
std::vector<int> ShareTenths(const std::vector<std::int64_t>& amounts);

// "12,5 %" with the separator given.
std::string FormatShare(int tenths, std::string_view decimalSeparator);
// The row's name on screen: the entry's name, "pozostałe (3)", or the text recorded.
std::string ShareName(const ApplicationShare& row, platform::DesktopEntries& entries);

// The ranked table as aligned text under a title line, or the note alone; with a
// column of the local network's traffic, and its note under the table, when there is some.
std::string ApplicationsText(const ApplicationShares& shares, std::string_view title,
                             platform::DesktopEntries& entries, std::string_view decimalSeparator,
                             LocalCounting counting);
// {"applications": [{"id": ..., "name": ..., "rx": kB, "tx": kB, "rx_local": kB,
// "tx_local": kB}, ...]} of `All`.
std::string ApplicationsJson(const std::vector<ApplicationShare>& all,
                             platform::DesktopEntries& entries);
// The ranked table as CSV (RFC 4180), amounts in bytes as the other exports.
std::string ApplicationsCsv(const ApplicationShares& shares, platform::DesktopEntries& entries);

} // namespace quantiro::reports
