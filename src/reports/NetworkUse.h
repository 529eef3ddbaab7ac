#pragma once

#include "common/CalendarDate.h"
#include "platform/HourStore.h"
#include "reports/ApplicationUse.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::reports {

// One line of the networks' table, in kB.
struct NetworkShare {
    platform::Network network; // no id: the unknown network's row
    std::int64_t download = 0;
    std::int64_t upload = 0;
    LocalTraffic local;
    int shareTenths = 0; // tenths of a per cent of the stretch's traffic
};

struct NetworkShares {
    // The networks that carried something, largest first, and what the hourly
    // records hold beyond every network's rows as one unknown row last. The shares
    // add up to 100 %.
    std::vector<NetworkShare> rows;
    std::int64_t download = 0;
    std::int64_t upload = 0;
    LocalTraffic local;
};

// The networks of the days first..last: each one's rows summed, beside what the
// hourly records of those days hold. Throws platform::DatabaseError.
NetworkShares LoadNetworks(platform::HourStore& database, const CalendarDate& first,
                           const CalendarDate& last);

// The id of the network the user named, by its name or its id; nullopt when no
// network "sieci" knows has it.
std::optional<std::string> NetworkIdNamed(platform::HourStore& database, std::string_view name);

// "Dom", or "nieznana sieć" for the unknown row.
std::string NetworkName(const NetworkShare& row);
// "Wi-Fi", "Ethernet", "sieć komórkowa", ...; empty when not known.
std::string_view KindName(platform::NetworkKind kind);
// The kind, and "taryfowana" after it when the network is metered.
std::string KindText(const platform::Network& network);

// The table as aligned text under a title line; with a local column when there is
// some local traffic, and its note under the table.
std::string NetworksText(const NetworkShares& shares, std::string_view title,
                         std::string_view decimalSeparator, LocalCounting counting);
// {"networks": [{"id", "name", "kind", "metered", "rx", "tx", "rx_local",
// "tx_local"}, ...]}, in kB; the unknown row's id and kind are empty.
std::string NetworksJson(const NetworkShares& shares);
// The table as CSV (RFC 4180), amounts in bytes as the other exports.
std::string NetworksCsv(const NetworkShares& shares);

} // namespace quantiro::reports
