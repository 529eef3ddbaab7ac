#pragma once

#include "platform/HourStore.h"
#include "platform/Networks.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::platform {

// The kB received and sent a network's hours hold ("ruch_sieci" Download, Upload:
// what the hour's record counts, billed only under "TylkoInternet").
struct NetworkTraffic {
    std::int64_t download = 0;
    std::int64_t upload = 0;
};

// What the plans and the options read of the networks' records, and the merge of
// two networks that are one. A database without the networks' tables yet reads as
// no networks. Errors are thrown as DatabaseError.
class NetworkRecords {
public:
    virtual ~NetworkRecords() = default;

    // Every network seen, in the order first seen (no amounts: those are the
    // reports').
    virtual std::vector<StoredNetwork> ReadNetworks() = 0;
    // The network's traffic on the days `firstDate`..`lastDate`: that of the hour
    // `hourDate`, `hour` apart from the other hours'.
    virtual void SumNetwork(std::string_view network, std::string_view firstDate,
                            std::string_view lastDate, std::string_view hourDate, std::int32_t hour,
                            NetworkTraffic& otherHours, NetworkTraffic& inHour) = 0;
    // The "aplikacje" rows the network carried on those days.
    virtual void
    ReadNetworkApplications(std::string_view network, std::string_view firstDate,
                            std::string_view lastDate,
                            const std::function<void(const StoredApplication&)>& each) = 0;
    // `merged` was `kept` all along: its hours and applications become kept's, its
    // identity kept's other one where kept has none, its days seen join kept's, and
    // its row goes; all or nothing.
    virtual void MergeNetworks(std::string_view kept, std::string_view merged) = 0;
};

} // namespace quantiro::platform
