#include "collector/CounterBook.h"

#include "collector/CgroupOwner.h"

#include <cstring>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace quantiro::collector {

namespace {

using namespace std::chrono_literals;
using platform::linux_impl::OwnerKind;

// A reader that has not read a folded owner by then (it asks about another interface
// now, or is stuck) still adds it up right: the rest row holds all of it.
constexpr auto kLongestWait = 3min;

const TrafficOwner kUserRest{.kind = OwnerKind::Rest};
const TrafficOwner kSystemRest{.kind = OwnerKind::Rest, .id = "system"};
// Sorts before every owner, so a range of one interface's keys starts at it.
const TrafficOwner kFirstOwner{.kind = OwnerKind::App};

} // namespace

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

CounterBook::OwnerKey CounterBook::RestOf(const OwnerKey& key) {
    // A system service is every reader's by name, so its rest must be everyone's too.
    return {.netnsCookie = key.netnsCookie,
            .ifindex = key.ifindex,
            .owner = key.owner.kind == OwnerKind::Unit ? kSystemRest : kUserRest,
            .uid = key.uid};
}

TrafficOwner CounterBook::Shown(const OwnerKey& key, std::uint32_t callerUid) {
    // Traffic with no owner (the kernel's own, a full map's overflow) is nobody's
    // for every reader: only other users' programs are "others".
    const bool everyones = key.owner.kind == OwnerKind::Unit || key.owner.kind == OwnerKind::None ||
                           key.owner == kSystemRest;
    if (callerUid != 0 && key.uid != callerUid && !everyones) {
        return {.kind = OwnerKind::Others};
    }
    return key.owner.kind == OwnerKind::Rest ? kUserRest : key.owner;
}

CounterBook::OwnerKey CounterBook::KeyOf(const bpf::traffic_key& key) const {
    const std::string* path = key.cgroup_id == 0 ? nullptr : m_cgroups.PathOf(key.cgroup_id);
    const std::string_view executable(key.comm, ::strnlen(key.comm, sizeof key.comm));
    const std::string* name =
        path != nullptr || key.cgroup_id == 0 ? nullptr : m_cgroups.NameOf(key.cgroup_id);
    return {
        .netnsCookie = key.netns_cookie,
        .ifindex = key.ifindex,
        .owner = name != nullptr
                     ? OwnerOfUnit(*name, executable)
                     : OwnerOf(path != nullptr ? std::string_view(*path) : std::string_view(),
                               executable),
        .uid = key.uid,
    };
}

CounterBook::OwnerKey CounterBook::KeyOf(const TrafficProgram::Counter& counter) const {
    // A user's programs past its bound are that user's rest, as its folded owners are.
    if (counter.usersRest) {
        return {.netnsCookie = counter.key.netns_cookie,
                .ifindex = counter.key.ifindex,
                .owner = kUserRest,
                .uid = counter.key.uid};
    }
    return KeyOf(counter.key);
}

void CounterBook::Fold(const OldestAnswer& oldestAnswer,
                       std::chrono::steady_clock::time_point now) {
    std::unordered_map<std::uint64_t, bool> exists;
    std::unordered_set<std::uint64_t> referenced;
    std::set<OwnerRow> live;
    std::set<OwnerRow> taken;
    RemovedCounters stillMoving;
    for (const TrafficProgram::Counter& counter : m_program.ReadCounters()) {
        const OwnerKey key = KeyOf(counter.key);
        auto [known, added] = exists.try_emplace(counter.key.cgroup_id, false);
        if (added) {
            known->second = counter.key.cgroup_id == 0 || m_cgroups.Exists(counter.key.cgroup_id);
        }
        if (!known->second) {
            // No socket can be made in a removed cgroup, but one made before may still
            // send, and a packet added while its counter is taken off the map would be
            // lost: a counter is taken only once it stood still since the last pass.
            const auto last = m_removedSeen.find(counter.key);
            if (last != m_removedSeen.end() && last->second.packets == counter.value.packets &&
                last->second.bytes == counter.value.bytes) {
                Add(m_removed[key], counter.key, m_program.TakeCounter(counter));
                taken.insert(RowOf(key));
                continue;
            }
            stillMoving.emplace(counter.key, counter.value);
        }
        referenced.insert(counter.key.cgroup_id);
        live.insert(RowOf(key));
    }
    m_removedSeen = std::move(stillMoving);

    for (auto at = m_removed.begin(); at != m_removed.end();) {
        const OwnerRow row = RowOf(at->first);
        auto end = at;
        while (end != m_removed.end() && RowOf(end->first) == row) {
            ++end;
        }
        // Nobody's traffic is one row with what is still counted, never to shrink.
        if (row.owner.kind == OwnerKind::None || live.contains(row)) {
            m_waiting.erase(row);
            at = end;
            continue;
        }
        // Its readers read it as it now stands before it goes.
        auto [waiting, added] = m_waiting.try_emplace(row);
        if (added || taken.contains(row)) {
            waiting->second = {.pass = m_passes, .since = now};
            at = end;
            continue;
        }
        const std::optional<std::uint64_t> oldest = oldestAnswer(row.netnsCookie, row.ifindex);
        if (oldest && *oldest <= waiting->second.pass &&
            now - waiting->second.since < kLongestWait) {
            at = end;
            continue;
        }
        for (; at != end; at = m_removed.erase(at)) {
            m_folded[RestOf(at->first)] += at->second;
        }
        m_waiting.erase(waiting);
    }
    ++m_passes;
    m_cgroups.ForgetRemoved(referenced);
}

std::size_t CounterBook::OwnerCount() const {
    std::set<TrafficOwner> owners;
    for (const auto& read : {m_program.ReadCounters(), m_program.ReadOverflow()}) {
        for (const TrafficProgram::Counter& counter : read) {
            owners.insert(KeyOf(counter).owner);
        }
    }
    for (const auto* book : {&m_removed, &m_folded}) {
        for (const auto& [key, totals] : *book) {
            owners.insert(key.owner);
        }
    }
    return owners.size();
}

std::vector<CollectorRow> CounterBook::Rows(std::uint64_t netnsCookie, std::uint32_t ifindex,
                                            std::uint32_t callerUid) const {
    std::map<TrafficOwner, Totals> byOwner;
    for (const auto& read : {m_program.ReadCounters(), m_program.ReadOverflow()}) {
        for (const TrafficProgram::Counter& counter : read) {
            if (counter.key.netns_cookie == netnsCookie && counter.key.ifindex == ifindex) {
                Add(byOwner[Shown(KeyOf(counter), callerUid)], counter.key, counter.value);
            }
        }
    }
    const OwnerKey first{.netnsCookie = netnsCookie, .ifindex = ifindex, .owner = kFirstOwner};
    for (const auto* book : {&m_removed, &m_folded}) {
        for (auto at = book->lower_bound(first);
             at != book->end() && at->first.netnsCookie == netnsCookie &&
             at->first.ifindex == ifindex;
             ++at) {
            byOwner[Shown(at->first, callerUid)] += at->second;
        }
    }
    std::vector<CollectorRow> rows;
    rows.reserve(byOwner.size());
    for (const auto& [owner, totals] : byOwner) {
        rows.push_back({.owner = owner, .counters = totals});
    }
    return rows;
}

} // namespace quantiro::collector
