#pragma once

#include "common/CalendarDate.h"
#include "limits/BillingPeriod.h"
#include "limits/NetworkPlans.h"
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
    // Over billing periods, the one this row sums: its own plan's or the shared one.
    std::optional<limits::Period> period;
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

// The networks over the billing periods holding `anchor`: a network whose plan is
// in force then (monthly from its own billing day, or its package's days) summed
// over its plan's period, every other one and the unknown row over the shared
// period from `billingDay`. The shares are of what the rows hold, their periods
// however they differ. Throws platform::DatabaseError.
NetworkShares LoadNetworksOfPeriods(platform::HourStore& database, const CalendarDate& anchor,
                                    int billingDay, const std::vector<limits::NetworkPlan>& plans);
// The range's networks: its days, or each network's billing period for that span.
NetworkShares LoadNetworks(platform::HourStore& database, const ApplicationRange& range,
                           const std::vector<limits::NetworkPlan>& plans);

// "12 lis – 11 gru"; "12 gru 2026 – 11 sty 2027" across a year's end.
std::string ShortPeriodText(const limits::Period& period);

// The id of the network the user named, by its name or its id; nullopt when no
// network "sieci" knows has it, and "" for "nieznana sieć", which LoadHistory and
// LoadApplications take as the traffic of no known network.
std::optional<std::string> NetworkIdNamed(platform::HourStore& database, std::string_view name);

// "Dom", or "nieznana sieć" for the unknown row.
std::string NetworkName(const NetworkShare& row);
// The kind, and "taryfowana" after it when the network is metered.
std::string KindText(const platform::Network& network);

// The table as aligned text under a title line; with a local column when there is
// some local traffic, and its note under the table; with each row's period over
// billing periods.
std::string NetworksText(const NetworkShares& shares, std::string_view title,
                         std::string_view decimalSeparator, LocalCounting counting);
// {"networks": [{"id", "name", "kind", "metered", "rx", "tx", "rx_local",
// "tx_local"}, ...]}, in kB; the unknown row's id and kind are empty. Over billing
// periods each row has "from" and "to" too, "yyyy-mm-dd".
std::string NetworksJson(const NetworkShares& shares);
// The table as CSV (RFC 4180), amounts in bytes as the other exports.
std::string NetworksCsv(const NetworkShares& shares);

} // namespace quantiro::reports
