#include "reports/ApplicationUse.h"

#include "common/ApplicationNames.h"
#include "limits/BillingPeriod.h"
#include "presentation/AmountFormat.h"
#include "reports/Exports.h"
#include "reports/ReportRows.h"

#include <algorithm>

namespace quantiro::reports {

namespace {

constexpr int kWholeTenths = 1000;

bool LargerFirst(const ApplicationShare& a, const ApplicationShare& b) {
    const std::int64_t aTotal = a.download + a.upload, bTotal = b.download + b.upload;
    return aTotal != bTotal ? aTotal > bTotal : a.application < b.application;
}

void WorkOutShares(std::vector<ApplicationShare>& rows) {
    std::vector<std::int64_t> amounts;
    amounts.reserve(rows.size());
    for (const ApplicationShare& row : rows) {
        amounts.push_back(row.download + row.upload);
    }
    const std::vector<int> tenths = ShareTenths(amounts);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].shareTenths = tenths[i];
    }
}

std::string ShareNumber(int tenths, std::string_view decimalSeparator) {
    return std::to_string(tenths / 10) + std::string(decimalSeparator) +
           std::to_string(tenths % 10);
}

std::string Kilobytes(std::int64_t kilobytes) {
    return std::to_string(kilobytes);
}

void AddLocal(LocalTraffic& sum, const LocalTraffic& more) {
    sum.download += more.download;
    sum.upload += more.upload;
}

} // namespace

std::vector<int> ShareTenths(const std::vector<std::int64_t>& amounts) {
    std::vector<int> tenths(amounts.size(), 0);
    std::int64_t total = 0;
    for (const std::int64_t amount : amounts) {
        total += amount;
    }
    if (total <= 0) {
        return tenths;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> remainders;
    int given = 0;
    for (std::size_t i = 0; i < amounts.size(); ++i) {
        const std::int64_t scaled = amounts[i] * kWholeTenths;
        tenths[i] = static_cast<int>(scaled / total);
        given += tenths[i];
        remainders.emplace_back(scaled % total, i);
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; given < kWholeTenths && i < remainders.size(); ++i, ++given) {
        ++tenths[remainders[i].second];
    }
    return tenths;
}

CalendarDate ApplicationRange::First() const {
    switch (span) {
    case Span::Day:
        return anchor;
    case Span::Month:
        return {anchor.year, anchor.month, 1};
    case Span::BillingPeriod:
        break;
    }
    return limits::PeriodContaining(anchor, billingDay).first;
}

CalendarDate ApplicationRange::Last() const {
    switch (span) {
    case Span::Day:
        return anchor;
    case Span::Month:
        return {anchor.year, anchor.month, DaysInMonth(anchor.year, anchor.month)};
    case Span::BillingPeriod:
        break;
    }
    return limits::PeriodContaining(anchor, billingDay).last;
}

ApplicationRange ApplicationRange::Step(int direction) const {
    ApplicationRange next = *this;
    switch (span) {
    case Span::Day:
        next.anchor = ShownPeriod{Grouping::Hour, anchor}.Step(direction).anchor;
        break;
    case Span::Month:
        next.anchor = ShownPeriod{Grouping::Day, anchor}.Step(direction).anchor;
        break;
    case Span::BillingPeriod:
        next.anchor = DateOfDay(DaysSinceEpoch(direction < 0 ? First() : Last()) + direction);
        break;
    }
    return next;
}

std::string ApplicationRange::Title() const {
    switch (span) {
    case Span::Day:
        return ShownPeriod{Grouping::Hour, anchor}.Title();
    case Span::Month:
        return ShownPeriod{Grouping::Day, anchor}.Title();
    case Span::BillingPeriod:
        break;
    }
    return "okres " + FormatIsoDate(First()) + " – " + FormatIsoDate(Last());
}

std::string_view LocalLabel(LocalCounting counting) {
    return counting == LocalCounting::LeftOut ? "sieć lokalna, nie wliczona" : "w tym sieć lokalna";
}

std::string LocalNote(std::int64_t kilobytes, LocalCounting counting,
                      std::string_view decimalSeparator) {
    if (kilobytes <= 0) {
        return {};
    }
    return std::string(LocalLabel(counting)) + ": " +
           presentation::FormatMonthAmount(static_cast<double>(kilobytes), decimalSeparator);
}

void ApplicationHistory::Add(const platform::StoredApplication& row) {
    const platform::ApplicationAmounts& amounts = row.amounts;
    const auto date = ParseIsoDate(row.date);
    if (!date || amounts.download < 0 || amounts.upload < 0 || amounts.localDownload < 0 ||
        amounts.localUpload < 0) {
        return;
    }
    const std::int32_t day = DaysSinceEpoch(*date);
    const LocalTraffic local{amounts.localDownload, amounts.localUpload};
    Amount& amount = m_days[day][amounts.application];
    amount.download += amounts.download;
    amount.upload += amounts.upload;
    AddLocal(amount.local, local);
    if (local.Total() > 0) {
        LocalDay& localDay = m_local[day];
        AddLocal(localDay.total, local);
        if (row.hour >= 0 && row.hour < 24) {
            AddLocal(localDay.hours[static_cast<std::size_t>(row.hour)], local);
        }
    }
}

LocalTraffic ApplicationHistory::Local(const CalendarDate& first, const CalendarDate& last) const {
    LocalTraffic sum;
    const auto end = m_local.upper_bound(DaysSinceEpoch(last));
    for (auto day = m_local.lower_bound(DaysSinceEpoch(first)); day != end; ++day) {
        AddLocal(sum, day->second.total);
    }
    return sum;
}

LocalTraffic ApplicationHistory::LocalHour(const CalendarDate& day, int hour) const {
    const auto found = m_local.find(DaysSinceEpoch(day));
    if (found == m_local.end() || hour < 0 || hour >= 24) {
        return {};
    }
    return found->second.hours[static_cast<std::size_t>(hour)];
}

std::vector<ApplicationShare> ApplicationHistory::All(const CalendarDate& first,
                                                      const CalendarDate& last) const {
    std::map<std::string_view, Amount> sums;
    const auto end = m_days.upper_bound(DaysSinceEpoch(last));
    for (auto day = m_days.lower_bound(DaysSinceEpoch(first)); day != end; ++day) {
        for (const auto& [application, amount] : day->second) {
            Amount& sum = sums[application];
            sum.download += amount.download;
            sum.upload += amount.upload;
            AddLocal(sum.local, amount.local);
        }
    }
    std::vector<ApplicationShare> all;
    std::optional<ApplicationShare> unattributed;
    for (const auto& [application, amount] : sums) {
        const bool nobody = application == applications::kUnattributed;
        ApplicationShare row{
            .kind =
                nobody ? ApplicationShare::Kind::Unattributed : ApplicationShare::Kind::Application,
            .application = std::string(application),
            .download = amount.download,
            .upload = amount.upload,
            .local = amount.local,
        };
        if (nobody) {
            unattributed = std::move(row);
        } else {
            all.push_back(std::move(row));
        }
    }
    std::sort(all.begin(), all.end(), LargerFirst);
    if (unattributed) {
        all.push_back(std::move(*unattributed));
    }
    return all;
}

ApplicationShares ApplicationHistory::Ranked(const CalendarDate& first, const CalendarDate& last,
                                             std::size_t shown, LocalCounting counting) const {
    ApplicationShares shares;
    std::vector<ApplicationShare> all = All(first, last);
    if (counting == LocalCounting::LeftOut) {
        const bool unattributedLast =
            !all.empty() && all.back().kind == ApplicationShare::Kind::Unattributed;
        std::sort(all.begin(), all.end() - (unattributedLast ? 1 : 0),
                  [](const ApplicationShare& a, const ApplicationShare& b) {
                      const std::int64_t aMoved = a.download + a.upload + a.local.Total(),
                                         bMoved = b.download + b.upload + b.local.Total();
                      return aMoved != bMoved ? aMoved > bMoved : a.application < b.application;
                  });
    }
    shares.recorded = !all.empty();
    ApplicationShare rest{.kind = ApplicationShare::Kind::Rest};
    for (ApplicationShare& row : all) {
        shares.download += row.download;
        shares.upload += row.upload;
        AddLocal(shares.local, row.local);
        if (row.kind == ApplicationShare::Kind::Application && shares.rows.size() >= shown) {
            rest.download += row.download;
            rest.upload += row.upload;
            AddLocal(rest.local, row.local);
            ++rest.folded;
            continue;
        }
        if (row.kind == ApplicationShare::Kind::Unattributed && rest.folded > 0) {
            shares.rows.push_back(rest);
            rest.folded = 0;
        }
        shares.rows.push_back(std::move(row));
    }
    if (rest.folded > 0) {
        shares.rows.push_back(rest);
    }
    WorkOutShares(shares.rows);
    return shares;
}

ApplicationHistory LoadApplications(platform::HourStore& database,
                                    const std::optional<CalendarDate>& first,
                                    const std::optional<CalendarDate>& last,
                                    const std::optional<std::string>& network) {
    ApplicationHistory history;
    // Dates compare as text, so these two hold every date there can be.
    database.ReadApplications(first ? FormatIsoDate(*first) : "0000-01-01",
                              last ? FormatIsoDate(*last) : "9999-12-31",
                              [&](const platform::StoredApplication& row) {
                                  if (!network || row.amounts.network == *network) {
                                      history.Add(row);
                                  }
                              });
    return history;
}

std::string FormatShare(int tenths, std::string_view decimalSeparator) {
    return ShareNumber(tenths, decimalSeparator) + " %";
}

std::string ShareName(const ApplicationShare& row, platform::DesktopEntries& entries) {
    if (row.kind == ApplicationShare::Kind::Rest) {
        return std::string(applications::kRest) + " (" + std::to_string(row.folded) + ")";
    }
    return entries.Look(row.application).name;
}

std::string ApplicationsText(const ApplicationShares& shares, std::string_view title,
                             platform::DesktopEntries& entries, std::string_view decimalSeparator,
                             LocalCounting counting) {
    std::string text = "Aplikacje: " + std::string(title) + "\n";
    if (!shares.recorded) {
        return text + std::string(kApplicationsNeedCollector) + "\n";
    }
    const auto amount = [&](std::int64_t kilobytes) {
        return presentation::FormatMonthAmount(static_cast<double>(kilobytes), decimalSeparator);
    };
    const bool anyLocal = shares.local.Total() > 0;
    const auto line = [&](const std::string& name, std::int64_t download, std::int64_t upload,
                          const std::string& share, std::int64_t local) {
        text += Padded(name, 34) + Padded(amount(download), 16, true) +
                Padded(amount(upload), 16, true) + Padded(share, 10, true) +
                (anyLocal ? Padded(local > 0 ? amount(local) : "", 16, true) : "") + "\n";
    };
    text += Padded("", 34) + Padded("Odebrano", 16, true) + Padded("Wysłano", 16, true) +
            Padded("Udział", 10, true) + (anyLocal ? Padded("Sieć lokalna", 16, true) : "") + "\n";
    for (const ApplicationShare& row : shares.rows) {
        line(ShareName(row, entries), row.download, row.upload,
             FormatShare(row.shareTenths, decimalSeparator), row.local.Total());
    }
    line("Razem", shares.download, shares.upload, "", shares.local.Total());
    if (anyLocal) {
        text += "\n" + LocalNote(shares.local.Total(), counting, decimalSeparator) + "\n";
    }
    return text;
}

std::string ApplicationsJson(const std::vector<ApplicationShare>& all,
                             platform::DesktopEntries& entries) {
    std::string json = "{\"applications\": [";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const ApplicationShare& row = all[i];
        json += (i == 0 ? "{" : ", {");
        json += "\"id\": " + JsonString(row.application) +
                ", \"name\": " + JsonString(entries.Look(row.application).name) +
                ", \"rx\": " + Kilobytes(row.download) + ", \"tx\": " + Kilobytes(row.upload) +
                ", \"rx_local\": " + Kilobytes(row.local.download) +
                ", \"tx_local\": " + Kilobytes(row.local.upload) + "}";
    }
    return json + "]}\n";
}

std::string ApplicationsCsv(const ApplicationShares& shares, platform::DesktopEntries& entries) {
    std::string csv = "aplikacja,nazwa,odebrano_B,wyslano_B,udzial_proc\r\n";
    for (const ApplicationShare& row : shares.rows) {
        csv += CsvField(row.kind == ApplicationShare::Kind::Rest ? std::string(applications::kRest)
                                                                 : row.application) +
               "," + CsvField(ShareName(row, entries)) + "," + std::to_string(row.download * 1024) +
               "," + std::to_string(row.upload * 1024) + "," + ShareNumber(row.shareTenths, ".") +
               "\r\n";
    }
    return csv;
}

} // namespace quantiro::reports
