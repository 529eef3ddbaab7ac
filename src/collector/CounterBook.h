#pragma once

#include "collector/CgroupDirectory.h"
#include "collector/TrafficProgram.h"
#include "platform/linux/CollectorProtocol.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace quantiro::collector {

using platform::linux_impl::CollectorRow;
using platform::linux_impl::TrafficOwner;

// The counters since the service started: the BPF map's, summed over the CPUs, plus
// those of removed cgroups, which are moved here by owner and taken off the map once
// they stand still, so that it stays bounded however many short-lived scopes come
// and go. An owner with nothing left on the map is folded into its user's "rest" row
// (a system service's into the system's) once every reader has read it, and forgotten:
// each reader's rows then sum to what they summed before, and the row that went is
// the one its readers add to their rest row (applications/ApplicationTraffic).
class CounterBook {
public:
    CounterBook(TrafficProgram& program, CgroupDirectory& cgroups);

    // The pass of the oldest answer a connected reader asking about the interface got
    // last; nullopt when none asks about it.
    using OldestAnswer = std::function<std::optional<std::uint64_t>(std::uint64_t netnsCookie,
                                                                    std::uint32_t ifindex)>;

    // One pass of the service's own schedule: takes the counters of removed cgroups off
    // the map, and folds the owners that have none left on it once each reader asking
    // about their interface was answered since, or after they waited a few minutes.
    void Fold(const OldestAnswer& oldestAnswer, std::chrono::steady_clock::time_point now);

    // The passes so far: a reader answered now has read what each of them left.
    std::uint64_t Passes() const { return m_passes; }

    // One row per owner of the interface's traffic, as `callerUid` may see it: its own
    // traffic and system services' by name, traffic with no owner as nobody's, other
    // users' as one "others" row, and one "rest" row: its programs past its bound in the
    // service with its own and the system's folded owners; root sees every owner.
    // Changes nothing.
    std::vector<CollectorRow> Rows(std::uint64_t netnsCookie, std::uint32_t ifindex,
                                   std::uint32_t callerUid) const;

    // How many owners it counts for, in every namespace and of every user.
    std::size_t OwnerCount() const;

private:
    // Ordered so that one owner's keys of every user are neighbours.
    struct OwnerKey {
        std::uint64_t netnsCookie = 0;
        std::uint32_t ifindex = 0;
        TrafficOwner owner;
        std::uint32_t uid = 0;
        auto operator<=>(const OwnerKey&) const = default;
    };
    // An owner's row as any reader sees it, all its users' keys together: folded whole,
    // or a reader that sees them together would see it shrink.
    struct OwnerRow {
        std::uint64_t netnsCookie = 0;
        std::uint32_t ifindex = 0;
        TrafficOwner owner;
        auto operator<=>(const OwnerRow&) const = default;
    };
    struct Waiting {
        std::uint64_t pass = 0; // the pass its last counters were taken in
        std::chrono::steady_clock::time_point since;
    };
    using Totals = platform::TrafficCounters;
    // One counter of the map into an owner's totals.
    static void Add(Totals& totals, const bpf::traffic_key& key, const bpf::traffic_value& value);
    static OwnerRow RowOf(const OwnerKey& key) {
        return {.netnsCookie = key.netnsCookie, .ifindex = key.ifindex, .owner = key.owner};
    }
    static OwnerKey RestOf(const OwnerKey& key);
    static TrafficOwner Shown(const OwnerKey& key, std::uint32_t callerUid);

    OwnerKey KeyOf(const TrafficProgram::Counter& counter) const;
    OwnerKey KeyOf(const bpf::traffic_key& key) const;

    // Counters of removed cgroups still on the map, as the last pass read them.
    struct KeyBytesLess {
        bool operator()(const bpf::traffic_key& a, const bpf::traffic_key& b) const {
            return std::memcmp(&a, &b, sizeof a) < 0;
        }
    };
    using RemovedCounters = std::map<bpf::traffic_key, bpf::traffic_value, KeyBytesLess>;

    TrafficProgram& m_program;
    CgroupDirectory& m_cgroups;
    std::map<OwnerKey, Totals> m_removed;  // taken off the map, by owner
    std::map<OwnerRow, Waiting> m_waiting; // owners with nothing left on the map
    std::map<OwnerKey, Totals> m_folded;   // the rest rows
    RemovedCounters m_removedSeen;
    std::uint64_t m_passes = 0;
};

} // namespace quantiro::collector
