#include "collector/CounterBook.h"

#include "collector/CgroupOwner.h"

#include <cstring>
#include <set>
#include <unordered_map>

namespace quantiro::collector {

using platform::linux_impl::OwnerKind;

CounterBook::CounterBook(TrafficProgram& program, CgroupDirectory& cgroups)
    : m_program(program)
    , m_cgroups(cgroups) {}

void CounterBook::Add(Totals& totals, const bpf::traffic_key& key,
                      const bpf::traffic_value& value) {
    platform::WayCounters& way = key.direction == bpf::TRAFFIC_TX ? totals.sent : totals.received;
    const bool local = key.locality == bpf::TRAFFIC_LOCAL;
    (local ? way.localBytes : way.billedBytes) += value.bytes;
    way.packets += value.packets;
    way.localPackets += local ? value.packets : 0;
    way.segmentBytes += value.split_bytes;
    way.segmentPackets += value.split_packets;
}

CounterBook::OwnerKey CounterBook::KeyOf(const bpf::traffic_key& key) {
    const std::string* path = key.cgroup_id == 0 ? nullptr : m_cgroups.PathOf(key.cgroup_id);
    const std::string_view executable(key.comm, ::strnlen(key.comm, sizeof key.comm));
    const std::string* name =
        path != nullptr || key.cgroup_id == 0 ? nullptr : m_cgroups.NameOf(key.cgroup_id);
    return {
        .netnsCookie = key.netns_cookie,
        .ifindex = key.ifindex,
        .uid = key.uid,
        .owner = name != nullptr
                     ? OwnerOfUnit(*name, executable)
                     : OwnerOf(path != nullptr ? std::string_view(*path) : std::string_view(),
                               executable),
    };
}

std::map<CounterBook::OwnerKey, CounterBook::Totals> CounterBook::Collect() {
    std::map<OwnerKey, Totals> totals;
    std::unordered_map<std::uint64_t, bool> exists;
    RemovedCounters stillMoving;
    for (const TrafficProgram::Counter& counter : m_program.ReadCounters()) {
        const OwnerKey key = KeyOf(counter.key);
        auto [known, added] = exists.try_emplace(counter.key.cgroup_id, false);
        if (added) {
            known->second = m_cgroups.Exists(counter.key.cgroup_id);
        }
        if (!known->second) {
            // No socket can be made in a removed cgroup, but one made before may still
            // send, and a packet added while its counter is taken off the map would be
            // lost: a counter is taken only once it stood still since the last fold.
            const auto last = m_removedSeen.find(counter.key);
            if (last != m_removedSeen.end() && last->second.packets == counter.value.packets &&
                last->second.bytes == counter.value.bytes) {
                Add(m_removed[key], counter.key, m_program.TakeCounter(counter));
                continue;
            }
            stillMoving.emplace(counter.key, counter.value);
        }
        Add(totals[key], counter.key, counter.value);
    }
    m_removedSeen = std::move(stillMoving);
    for (const TrafficProgram::Counter& counter : m_program.ReadOverflow()) {
        // A user's own rest is that user's, as its named owners are.
        const OwnerKey key = counter.usersRest ? OwnerKey{.netnsCookie = counter.key.netns_cookie,
                                                          .ifindex = counter.key.ifindex,
                                                          .uid = counter.key.uid,
                                                          .owner = {.kind = OwnerKind::Rest}}
                                               : KeyOf(counter.key);
        Add(totals[key], counter.key, counter.value);
    }
    for (const auto& [key, removed] : m_removed) {
        totals[key] += removed;
    }
    m_cgroups.ForgetRemoved();
    return totals;
}

std::size_t CounterBook::OwnerCount() {
    std::set<TrafficOwner> owners;
    for (const auto& [key, totals] : Collect()) {
        owners.insert(key.owner);
    }
    return owners.size();
}

std::vector<CollectorRow> CounterBook::Rows(std::uint64_t netnsCookie, std::uint32_t ifindex,
                                            std::uint32_t callerUid) {
    std::map<TrafficOwner, Totals> byOwner;
    for (const auto& [key, totals] : Collect()) {
        if (key.netnsCookie != netnsCookie || key.ifindex != ifindex) {
            continue;
        }
        // Traffic with no owner (the kernel's own, a full map's overflow) is nobody's
        // for every reader: only other users' programs are "others".
        const bool named = callerUid == 0 || key.uid == callerUid ||
                           key.owner.kind == OwnerKind::Unit || key.owner.kind == OwnerKind::None;
        byOwner[named ? key.owner : TrafficOwner{.kind = OwnerKind::Others}] += totals;
    }
    std::vector<CollectorRow> rows;
    rows.reserve(byOwner.size());
    for (const auto& [owner, totals] : byOwner) {
        rows.push_back({.owner = owner, .counters = totals});
    }
    return rows;
}

} // namespace quantiro::collector
