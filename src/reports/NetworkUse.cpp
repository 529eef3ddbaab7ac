#include "reports/NetworkUse.h"

#include "common/ApplicationNames.h"
#include "presentation/AmountFormat.h"
#include "reports/Exports.h"
#include "reports/TrafficHistory.h"

#include <algorithm>

namespace quantiro::reports {

NetworkShares LoadNetworks(platform::HourStore& database, const CalendarDate& first,
                           const CalendarDate& last) {
    const std::string from = FormatIsoDate(first);
    const std::string to = FormatIsoDate(last);
    NetworkShares shares;
    std::int64_t networksDownload = 0;
    std::int64_t networksUpload = 0;
    for (const platform::StoredNetwork& stored : database.ReadNetworks(from, to)) {
        networksDownload += stored.download;
        networksUpload += stored.upload;
        if (stored.download == 0 && stored.upload == 0 && stored.localDownload == 0 &&
            stored.localUpload == 0) {
            continue; // known, but silent in these days
        }
        shares.rows.push_back({.network = stored.network,
                               .download = stored.download,
                               .upload = stored.upload,
                               .local = {stored.localDownload, stored.localUpload}});
    }
    std::sort(shares.rows.begin(), shares.rows.end(),
              [](const NetworkShare& a, const NetworkShare& b) {
                  const std::int64_t aTotal = a.download + a.upload, bTotal = b.download + b.upload;
                  return aTotal != bTotal ? aTotal > bTotal : a.network.name < b.network.name;
              });
    // Hours recorded before networks were, or while none was known, have no network
    // rows: what the records hold beyond them is the unknown network's.
    const Traffic recorded = LoadHistory(database, first, last).Days(first, last);
    const NetworkShare unknown{
        .download = std::max<std::int64_t>(recorded.download - networksDownload, 0),
        .upload = std::max<std::int64_t>(recorded.upload - networksUpload, 0)};
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
    return shares;
}

std::optional<std::string> NetworkIdNamed(platform::HourStore& database, std::string_view name) {
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

std::string_view KindName(platform::NetworkKind kind) {
    switch (kind) {
    case platform::NetworkKind::Ethernet:
        return "Ethernet";
    case platform::NetworkKind::WiFi:
        return "Wi-Fi";
    case platform::NetworkKind::Mobile:
        return "sieć komórkowa";
    case platform::NetworkKind::Bluetooth:
        return "Bluetooth";
    case platform::NetworkKind::Vpn:
        return "VPN";
    case platform::NetworkKind::PointToPoint:
        return "łącze punkt-punkt";
    case platform::NetworkKind::Unknown:
        break;
    }
    return "";
}

std::string KindText(const platform::Network& network) {
    std::string text(KindName(network.kind));
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
    const auto line = [&](const std::string& name, const std::string& kind, std::int64_t download,
                          std::int64_t upload, const std::string& share, std::int64_t local) {
        text += Padded(name, 26) + Padded(kind, 18) + Padded(amount(download), 16, true) +
                Padded(amount(upload), 16, true) + Padded(share, 10, true) +
                (anyLocal ? Padded(local > 0 ? amount(local) : "", 16, true) : "") + "\n";
    };
    text += Padded("", 26) + Padded("Rodzaj", 18) + Padded("Odebrano", 16, true) +
            Padded("Wysłano", 16, true) + Padded("Udział", 10, true) +
            (anyLocal ? Padded("Sieć lokalna", 16, true) : "") + "\n";
    for (const NetworkShare& row : shares.rows) {
        line(NetworkName(row), KindText(row.network), row.download, row.upload,
             FormatShare(row.shareTenths, decimalSeparator), row.local.Total());
    }
    line("Razem", "", shares.download, shares.upload, "", shares.local.Total());
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
                ", \"tx_local\": " + std::to_string(row.local.upload) + "}";
    }
    return json + "]}\n";
}

std::string NetworksCsv(const NetworkShares& shares) {
    std::string csv = "siec,nazwa,rodzaj,taryfowana,odebrano_B,wyslano_B,udzial_proc\r\n";
    for (const NetworkShare& row : shares.rows) {
        csv += CsvField(row.network.id) + "," + CsvField(NetworkName(row)) + "," +
               CsvField(platform::KindWord(row.network.kind)) + "," +
               (row.network.metered ? "1" : "0") + "," + std::to_string(row.download * 1024) + "," +
               std::to_string(row.upload * 1024) + "," + std::to_string(row.shareTenths / 10) +
               "." + std::to_string(row.shareTenths % 10) + "\r\n";
    }
    return csv;
}

} // namespace quantiro::reports
