#pragma once

#include "collector/bpf/traffic_counter.h"
#include "platform/linux/CollectorProtocol.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct traffic_counter;
struct ring_buffer;

namespace quantiro::collector {

using platform::linux_impl::IpPrefix;

// The maps' sizes, set before the programs load. Per-CPU values make the counters'
// memory grow with the CPUs: MemoryBytes tells what the kernel charged.
struct TableSizes {
    std::uint32_t counters = bpf::TRAFFIC_ENTRIES;
    std::uint32_t entriesPerUser = bpf::TRAFFIC_ENTRIES_PER_USER;
    std::uint32_t overflowRows = bpf::TRAFFIC_OVERFLOW_ENTRIES;
    std::uint32_t userPrefixes = bpf::TRAFFIC_USER_PREFIX_ENTRIES;
};

// The cgroup whose children are the users' slices (user.slice), by its id and its
// level below the hierarchy's root; level 0: none, each uid is a user of its own.
struct UsersCgroup {
    std::uint64_t id = 0;
    std::uint32_t level = 0;
};

// The BPF programs and their maps, loaded from the skeleton built in, attached to a
// cgroup through bpf_links: they count while this object lives and go with it.
class TrafficProgram {
public:
    // Loads the programs and attaches them to the cgroup directory `cgroup`.
    // `ownNetnsCookie`: the namespace whose connected prefixes SetConnected gives.
    // Throws std::runtime_error, with what the kernel refused.
    // `verboseLoader`: libbpf's informational and debugging lines reach standard
    // error (the journal) beside its warnings.
    TrafficProgram(const std::string& cgroup, std::uint64_t ownNetnsCookie, bool verboseLoader,
                   const TableSizes& sizes = {}, const UsersCgroup& users = {});
    ~TrafficProgram();
    TrafficProgram(const TrafficProgram&) = delete;
    TrafficProgram& operator=(const TrafficProgram&) = delete;

    // Whether the kernel tells the programs a packet's namespace, so that the packets of
    // sockets older than them are counted in theirs; without it they count in none.
    bool KnowsPacketNamespaces() const;
    // Whether a connection accepted from a listener counts for the first task that
    // sends or receives on it (a socket-activated service, not the service manager
    // that made the listener); without, it counts for the listener's owner.
    bool ClaimsAcceptedConnections() const;
    // Whether each CPU keeps the counters its last few owners' packets went to, folded
    // into the map before each read: a packet with one of their keys spares the lookup.
    bool FoldsPendingCounters() const;

    // Readable when cgroups were announced; TakeNewCgroups hands them over, each id
    // with its directory's name (empty when unknown) and its ancestors' ids from the
    // root down, and returns 0, or the error that kept it from reading them.
    using CgroupHandler =
        std::function<void(std::uint64_t, std::string_view, std::span<const std::uint64_t>)>;
    int NewCgroupsDescriptor() const;
    int TakeNewCgroups(const CgroupHandler& onCgroup);

    struct Counter {
        bpf::traffic_key key;
        bpf::traffic_value value; // summed over the CPUs
        // An overflow row of the user of key.uid, past its bound or the map's: its
        // own "rest"; otherwise an overflow row is nobody's.
        bool usersRest = false;
    };
    // What each CPU holds pending is folded into the map first.
    std::vector<Counter> ReadCounters() const;
    // What new owners counted while their user was past its bound or the counters map
    // was full, with owner keys.
    std::vector<Counter> ReadOverflow() const;
    // Takes a counter off the map with what it holds at that moment, summed over the
    // CPUs: a socket that outlived its cgroup may still be adding to it. Gives its
    // user's room back (ReleaseUserEntry).
    bpf::traffic_value TakeCounter(const Counter& read);
    // Gives the user of `key` back the room of one counter taken off the counters map:
    // whatever deletes a counter there calls it once for that counter, or the user's
    // bound shrinks for good. False when the map of released counters refused it.
    bool ReleaseUserEntry(const bpf::traffic_key& key);

    // Prefixes local everywhere; those connected to an interface (the scope is its
    // ifindex); a user's own (the scope is the uid). False, with errno, when the
    // kernel refused the change (E2BIG: the trie is full).
    bool SetLocal(const IpPrefix& prefix, bool present);
    bool SetConnected(std::uint32_t ifindex, const IpPrefix& prefix, bool present);
    bool SetUserLocal(std::uint32_t uid, const IpPrefix& prefix, bool present);
    // An interface's MTU in the service's namespace (0: gone), for its fragments;
    // false, with errno, when the kernel refused it.
    bool SetMtu(std::uint32_t ifindex, std::uint32_t mtu);

    // How full each map that can fill is, for STATUS.
    std::vector<platform::linux_impl::TableFill> Fills() const;
    // What the kernel charged for the maps (its "memlock" figure), for the journal.
    std::uint64_t MemoryBytes() const;
    int Cpus() const { return m_cpus; }

private:
    struct SkeletonDestroyer {
        void operator()(traffic_counter* skeleton) const;
    };
    struct RingBufferFree {
        void operator()(ring_buffer* buffer) const;
    };
    // Where the programs that claim accepted connections run, if at all.
    enum class Claims { OnTcp, OnEverySocket, None };
    // Opens and loads the programs anew, its maps sized, with the claims `claimsOn`;
    // returns 0 or the kernel's error.
    int Load(std::uint64_t ownNetnsCookie, const TableSizes& sizes, const UsersCgroup& users,
             Claims claimsOn);
    // Runs the fold on each online CPU that holds counters, or on every one; false when
    // this kernel cannot run a program on a CPU it is asked for.
    bool FoldPending(bool everyCpu) const;
    static int OnNewCgroup(void* context, void* data, std::size_t size);
    // Adds or removes one trie entry; every change made makes the sockets look again.
    bool SetPrefix(int map, const void* key, bool present);
    bool SetScoped(int map, std::uint32_t scope, const IpPrefix& prefix, bool present);

    std::unique_ptr<traffic_counter, SkeletonDestroyer> m_skeleton;
    std::unique_ptr<ring_buffer, RingBufferFree> m_newCgroups;
    const CgroupHandler* m_onCgroup = nullptr;
    int m_cpus = 1;
    std::map<std::uint32_t, std::uint32_t> m_mtus; // as link_mtus holds them
};

} // namespace quantiro::collector
