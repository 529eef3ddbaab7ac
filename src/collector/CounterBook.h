#pragma once

#include "collector/CgroupDirectory.h"
#include "collector/TrafficProgram.h"
#include "platform/linux/CollectorProtocol.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace quantiro::collector {

using platform::linux_impl::CollectorRow;
using platform::linux_impl::TrafficOwner;

// The counters since the service started: the BPF map's, summed over the CPUs, plus
// those of removed cgroups, which are moved here by owner and taken off the map once
// they stand still, so that it stays bounded however many short-lived scopes come
// and go.
class CounterBook {
public:
    CounterBook(TrafficProgram& program, CgroupDirectory& cgroups);

    // Moves the counters of removed cgroups off the map.
    void Fold() { Collect(); }

    // One row per owner of the interface's traffic, as `callerUid` may see it: its own
    // traffic and system services' by name (its programs past its bound as one "rest"
    // row), traffic with no owner as nobody's, other users' as one "others" row; root
    // sees every owner.
    std::vector<CollectorRow> Rows(std::uint64_t netnsCookie, std::uint32_t ifindex,
                                   std::uint32_t callerUid);

    // How many owners it counts for, in every namespace and of every user.
    std::size_t OwnerCount();

private:
    struct OwnerKey {
        std::uint64_t netnsCookie = 0;
        std::uint32_t ifindex = 0;
        std::uint32_t uid = 0;
        TrafficOwner owner;
        auto operator<=>(const OwnerKey&) const = default;
    };
    using Totals = platform::TrafficCounters;
    // One counter of the map into an owner's totals.
    static void Add(Totals& totals, const bpf::traffic_key& key, const bpf::traffic_value& value);

    // Everything counted so far, by owner; folds the removed cgroups on the way.
    std::map<OwnerKey, Totals> Collect();
    OwnerKey KeyOf(const bpf::traffic_key& key);

    // Counters of removed cgroups still on the map, as the last fold read them.
    struct KeyBytesLess {
        bool operator()(const bpf::traffic_key& a, const bpf::traffic_key& b) const {
            return std::memcmp(&a, &b, sizeof a) < 0;
        }
    };
    using RemovedCounters = std::map<bpf::traffic_key, bpf::traffic_value, KeyBytesLess>;

    TrafficProgram& m_program;
    CgroupDirectory& m_cgroups;
    std::map<OwnerKey, Totals> m_removed;
    RemovedCounters m_removedSeen;
};

} // namespace quantiro::collector
