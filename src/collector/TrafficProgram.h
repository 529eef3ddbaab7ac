#pragma once

#include "collector/bpf/traffic_counter.h"
#include "platform/linux/CollectorProtocol.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct traffic_counter;
struct ring_buffer;

namespace quantiro::collector {

using platform::linux_impl::IpPrefix;

// The BPF programs and their maps, loaded from the skeleton built in, attached to a
// cgroup through bpf_links: they count while this object lives and go with it.
class TrafficProgram {
public:
    // Loads the programs and attaches them to the cgroup directory `cgroup`.
    // `ownNetnsCookie`: the namespace whose connected prefixes SetConnected gives.
    // Throws std::runtime_error, with what the kernel refused.
    // `verboseLoader`: libbpf's informational and debugging lines reach standard
    // error (the journal) beside its warnings.
    TrafficProgram(const std::string& cgroup, std::uint64_t ownNetnsCookie, bool verboseLoader);
    ~TrafficProgram();
    TrafficProgram(const TrafficProgram&) = delete;
    TrafficProgram& operator=(const TrafficProgram&) = delete;

    // Whether the kernel tells the programs a packet's namespace, so that the packets of
    // sockets older than them are counted in theirs; without it they count in none.
    bool KnowsPacketNamespaces() const;

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
    };
    std::vector<Counter> ReadCounters() const;
    // What went to the interfaces while the counters map was full, with owner keys.
    std::vector<Counter> ReadOverflow() const;
    // Takes a counter off the map with what it holds at that moment, summed over the
    // CPUs: a socket that outlived its cgroup may still be adding to it.
    bpf::traffic_value TakeCounter(const Counter& read);

    // Prefixes local everywhere; those connected to an interface (the scope is its
    // ifindex); a user's own (the scope is the uid). False when a map is full.
    bool SetLocal(const IpPrefix& prefix, bool present);
    bool SetConnected(std::uint32_t ifindex, const IpPrefix& prefix, bool present);
    bool SetUserLocal(std::uint32_t uid, const IpPrefix& prefix, bool present);
    // An interface's MTU in the service's namespace (0: gone), for its fragments.
    void SetMtu(std::uint32_t ifindex, std::uint32_t mtu);

    // How full each map that can fill is, for STATUS.
    std::vector<platform::linux_impl::TableFill> Fills() const;

private:
    struct SkeletonDestroyer {
        void operator()(traffic_counter* skeleton) const;
    };
    struct RingBufferFree {
        void operator()(ring_buffer* buffer) const;
    };
    static int OnNewCgroup(void* context, void* data, std::size_t size);
    // Adds or removes one trie entry; every change makes the sockets look again.
    bool SetPrefix(int map, const void* key, bool present);
    bool SetScoped(int map, std::uint32_t scope, const IpPrefix& prefix, bool present);

    std::unique_ptr<traffic_counter, SkeletonDestroyer> m_skeleton;
    std::unique_ptr<ring_buffer, RingBufferFree> m_newCgroups;
    const CgroupHandler* m_onCgroup = nullptr;
    int m_cpus = 1;
};

} // namespace quantiro::collector
