#include "reports/NetworkUse.h"

#include "common/ApplicationNames.h"
#include "presentation/AmountFormat.h"
#include "presentation/NetworkText.h"
#include "reports/Exports.h"
#include "reports/TrafficHistory.h"

#include <algorithm>
#include <array>
#include <deque>

namespace quantiro::reports {

namespace {

bool Silent(const platform::StoredNetwork& stored) {
    return stored.download == 0 && stored.upload == 0 && stored.localDownload == 0 &&
           stored.localUpload == 0;
}

NetworkShare RowOf(const platform::StoredNetwork& stored) {
    return {.network = stored.network,
            .download = stored.download,
            .upload = stored.upload,
            .local = {stored.localDownload, stored.localUpload}};
}

// Sorts the rows, adds the unknown row (what the records of first..last hold beyond
// `known`, every network's rows of those days) and works out the totals and shares.
void Complete(NetworkShares& shares, platform::HourStore& database, const CalendarDate& first,
              const CalendarDate& last, const Traffic& known,
              const std::optional<limits::Period>& unknownPeriod) {
    std::sort(shares.rows.begin(), shares.rows.end(),
              [](const NetworkShare& a, const NetworkShare& b) {
                  const std::int64_t aTotal = a.download + a.upload, bTotal = b.download + b.upload;
                  return aTotal != bTotal ? aTotal > bTotal : a.network.name < b.network.name;
              });
    // Hours recorded before networks were, or while none was known, have no network
    // rows: what the records hold beyond them is the unknown network's.
    const Traffic recorded = LoadHistory(database, first, last).Days(first, last);
    const NetworkShare unknown{.download =
                                   std::max<std::int64_t>(recorded.download - known.download, 0),
                               .upload = std::max<std::int64_t>(recorded.upload - known.upload, 0),
                               .period = unknownPeriod};
    if (unknown.download > 0 || unknown.upload > 0) {
        shares.rows.push_back(unknown);
    }
    std::vector<std::int64_t> amounts;
    for (const NetworkShare& row : shares.rows) {
        shares.download += row.download;
        shares.upload += row.upload;
        shares.local.download += row.local.download;
        shares.local.upload += row.local.upload;
        amounts.push_back(row.download + row.upload);
    }
    const std::vector<int> tenths = ShareTenths(amounts);
    for (std::size_t i = 0; i < shares.rows.size(); ++i) {
        shares.rows[i].shareTenths = tenths[i];
    }
}

} // namespace

NetworkShares LoadNetworks(platform::HourStore& database, const CalendarDate& first,
                           const CalendarDate& last) {
    NetworkShares shares;
    Traffic known;
    for (const platform::StoredNetwork& stored :
         database.ReadNetworks(FormatIsoDate(first), FormatIsoDate(last))) {
        known.download += stored.download;
        known.upload += stored.upload;
        if (!Silent(stored)) {
            shares.rows.push_back(RowOf(stored));
        }
    }
    Complete(shares, database, first, last, known, std::nullopt);
    return shares;
}

NetworkShares LoadNetworksOfPeriods(platform::HourStore& database, const CalendarDate& anchor,
                                    int billingDay, const std::vector<limits::NetworkPlan>& plans) {
    const limits::Period shared = limits::PeriodContaining(anchor, billingDay);
    const auto periodOf = [&](const std::string& network) {
        for (const limits::NetworkPlan& plan : plans) {
            if (plan.network == network && limits::PlanInForce(plan, anchor)) {
                // An unlimited plan has no period of its own: the shared one stands.
                return limits::PlanPeriod(plan, anchor).value_or(shared);
            }
        }
        return shared;
    };
    NetworkShares shares;
    Traffic known;
    // One read per distinct period: most networks share one.
    // A deque: a period read later never moves one read before, so references stay.
    std::deque<std::pair<limits::Period, std::vector<platform::StoredNetwork>>> read;
    const auto readPeriod = [&](const limits::Period& period) -> const auto& {
        for (const auto& [at, stored] : read) {
            if (at == period) {
                return stored;
            }
        }
        return read
            .emplace_back(period, database.ReadNetworks(FormatIsoDate(period.first),
                                                        FormatIsoDate(period.last)))
            .second;
    };
    // The unknown row is the shared period's records beyond every network's rows in
    // it, whatever period each network's own row covers.
    const std::vector<platform::StoredNetwork>& inShared = readPeriod(shared);
    for (const platform::StoredNetwork& stored : inShared) {
        known.download += stored.download;
        known.upload += stored.upload;
    }
    for (const platform::StoredNetwork& all : inShared) {
        const limits::Period period = periodOf(all.network.id);
        for (const platform::StoredNetwork& stored : readPeriod(period)) {
            if (stored.network.id == all.network.id && !Silent(stored)) {
                shares.rows.push_back(RowOf(stored));
                shares.rows.back().period = period;
            }
        }
    }
    Complete(shares, database, shared.first, shared.last, known, shared);
    return shares;
}

NetworkShares LoadNetworks(platform::HourStore& database, const ApplicationRange& range,
                           const std::vector<limits::NetworkPlan>& plans) {
    if (range.span == ApplicationRange::Span::BillingPeriod) {
        return LoadNetworksOfPeriods(database, range.anchor, range.billingDay, plans);
    }
    return LoadNetworks(database, range.First(), range.Last());
}

std::string ShortPeriodText(const limits::Period& period) {
    static constexpr std::array<std::string_view, 12> kMonths{
        "sty", "lut", "mar", "kwi", "maj", "cze", "lip", "sie", "wrz", "paź", "lis", "gru"};
    const bool withYears = period.first.year != period.last.year;
    const auto day = [&](const CalendarDate& date) {
        return std::to_string(date.day) + " " +
               std::string(kMonths[static_cast<std::size_t>(date.month - 1)]) +
               (withYears ? " " + std::to_string(date.year) : "");
    };
    return day(period.first) + " – " + day(period.last);
}

std::optional<std::string> NetworkIdNamed(platform::HourStore& database, std::string_view name) {
    if (name == applications::kUnknownNetwork) {
        return std::string();
    }
    const std::vector<platform::StoredNetwork> all = database.ReadNetworks("", "");
    for (const auto& stored : all) {
        if (stored.network.name == name) {
            return stored.network.id;
        }
    }
    for (const auto& stored : all) {
        if (stored.network.id == name || stored.network.otherId == name) {
            return stored.network.id;
        }
    }
    return std::nullopt;
}

std::string NetworkName(const NetworkShare& row) {
    return row.network.Known() ? row.network.name : std::string(applications::kUnknownNetwork);
}

std::string KindText(const platform::Network& network) {
    std::string text(presentation::KindName(network.kind));
    if (network.metered) {
        text += text.empty() ? "taryfowana" : ", taryfowana";
    }
    return text;
}

std::string NetworksText(const NetworkShares& shares, std::string_view title,
                         std::string_view decimalSeparator, LocalCounting counting) {
    std::string text = "Sieci: " + std::string(title) + "\n";
    if (shares.rows.empty()) {
        return text + "Brak ruchu w tym okresie.\n";
    }
    const auto amount = [&](std::int64_t kilobytes) {
        return presentation::FormatMonthAmount(static_cast<double>(kilobytes), decimalSeparator);
    };
    const bool anyLocal = shares.local.Total() > 0;
    const bool periods = shares.rows.front().period.has_value();
    const auto line = [&](const std::string& name, const std::string& kind, std::int64_t download,
                          std::int64_t upload, const std::string& share, std::int64_t local,
                          const std::string& period) {
        text += Padded(name, 26) + Padded(kind, 18) + Padded(amount(download), 16, true) +
                Padded(amount(upload), 16, true) + Padded(share, 10, true) +
                (anyLocal ? Padded(local > 0 ? amount(local) : "", 16, true) : "") +
                (periods ? "  " + period : "") + "\n";
    };
    text += Padded("", 26) + Padded("Rodzaj", 18) + Padded("Odebrano", 16, true) +
            Padded("Wysłano", 16, true) + Padded("Udział", 10, true) +
            (anyLocal ? Padded("Sieć lokalna", 16, true) : "") + (periods ? "  Okres" : "") + "\n";
    for (const NetworkShare& row : shares.rows) {
        line(NetworkName(row), KindText(row.network), row.download, row.upload,
             FormatShare(row.shareTenths, decimalSeparator), row.local.Total(),
             row.period ? ShortPeriodText(*row.period) : "");
    }
    line("Razem", "", shares.download, shares.upload, "", shares.local.Total(), "");
    if (anyLocal) {
        text += "\n" + LocalNote(shares.local.Total(), counting, decimalSeparator) + "\n";
    }
    return text;
}

std::string NetworksJson(const NetworkShares& shares) {
    std::string json = "{\"networks\": [";
    for (std::size_t i = 0; i < shares.rows.size(); ++i) {
        const NetworkShare& row = shares.rows[i];
        json += (i == 0 ? "{" : ", {");
        json += "\"id\": " + JsonString(row.network.id) +
                ", \"name\": " + JsonString(NetworkName(row)) +
                ", \"kind\": " + JsonString(platform::KindWord(row.network.kind)) +
                ", \"metered\": " + (row.network.metered ? "true" : "false") +
                ", \"rx\": " + std::to_string(row.download) +
                ", \"tx\": " + std::to_string(row.upload) +
                ", \"rx_local\": " + std::to_string(row.local.download) +
                ", \"tx_local\": " + std::to_string(row.local.upload);
        if (row.period) {
            json += ", \"from\": " + JsonString(FormatIsoDate(row.period->first)) +
                    ", \"to\": " + JsonString(FormatIsoDate(row.period->last));
        }
        json += "}";
    }
    return json + "]}\n";
}

std::string NetworksCsv(const NetworkShares& shares) {
    const bool periods = !shares.rows.empty() && shares.rows.front().period.has_value();
    std::string csv = std::string("siec,nazwa,rodzaj,taryfowana,odebrano_B,wyslano_B,udzial_proc") +
                      (periods ? ",od,do" : "") + "\r\n";
    for (const NetworkShare& row : shares.rows) {
        csv += CsvField(row.network.id) + "," + CsvField(NetworkName(row)) + "," +
               CsvField(platform::KindWord(row.network.kind)) + "," +
               (row.network.metered ? "1" : "0") + "," + std::to_string(row.download * 1024) + "," +
               std::to_string(row.upload * 1024) + "," + std::to_string(row.shareTenths / 10) +
               "." + std::to_string(row.shareTenths % 10);
        if (row.period) {
            csv += "," + FormatIsoDate(row.period->first) + "," + FormatIsoDate(row.period->last);
        }
        csv += "\r\n";
    }
    return csv;
}

} // namespace quantiro::reports
