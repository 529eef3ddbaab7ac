#include "collector/TrafficProgram.h"

#include "collector/ServiceLog.h"
#include "platform/linux/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <tuple>

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <traffic_counter.skel.h>
#include <traffic_counter_plain.skel.h>
#include <unistd.h>

namespace quantiro::collector {

namespace {

using platform::linux_impl::UniqueFd;

std::runtime_error Refused(const std::string& step, int error) {
    error = error < 0 ? -error : error;
    // What a start by hand, without the unit's capabilities, runs into.
    const bool unprivileged = error == EPERM || error == EACCES;
    return std::runtime_error(step + ": " + ErrorText(error) +
                              (unprivileged ? ". Usługa potrzebuje uprawnień CAP_BPF, "
                                              "CAP_NET_ADMIN i CAP_PERFMON; uruchamia ją systemd "
                                              "(systemctl start quantiro-collector)"
                                            : ""));
}

// libbpf's own lines are English, and most say again what the error thrown says; its
// warnings (a verifier's refusal among them) go to the journal, the rest only when
// asked for, at the journal's debugging priority.
bool g_verboseLoader = false;

__attribute__((format(printf, 2, 0))) int ToJournal(enum libbpf_print_level level,
                                                    const char* format, va_list arguments) {
    if (level != LIBBPF_WARN && !g_verboseLoader) {
        return 0;
    }
    if (StandardErrorIsJournal()) {
        std::fputs(level == LIBBPF_WARN ? "<4>libbpf: " : "<7>libbpf: ", stderr);
    } else {
        std::fputs("libbpf: ", stderr);
    }
    return std::vfprintf(stderr, format, arguments);
}

bpf::traffic_value SumOverCpus(const std::vector<bpf::traffic_value>& perCpu) {
    bpf::traffic_value sum{};
    for (const bpf::traffic_value& value : perCpu) {
        sum.bytes += value.bytes;
        sum.packets += value.packets;
        sum.split_bytes += value.split_bytes;
        sum.split_packets += value.split_packets;
    }
    return sum;
}

template <typename Key>
std::vector<TrafficProgram::Counter>
ReadPerCpuMap(int map, int cpus,
              const std::function<void(const Key&, TrafficProgram::Counter&)>& toKey) {
    std::vector<TrafficProgram::Counter> counters;
    std::vector<bpf::traffic_value> perCpu(static_cast<std::size_t>(cpus));
    Key key{};
    Key next{};
    const Key* previous = nullptr;
    while (::bpf_map_get_next_key(map, previous, &next) == 0) {
        key = next;
        previous = &key;
        if (::bpf_map_lookup_elem(map, &key, perCpu.data()) != 0) {
            continue; // deleted meanwhile
        }
        TrafficProgram::Counter counter{.value = SumOverCpus(perCpu)};
        toKey(key, counter);
        counters.push_back(counter);
    }
    return counters;
}

// The programs as this kernel takes them: without its BTF, the build that reads no
// kernel structure (the same maps and programs), so counting goes on without names.
traffic_counter* OpenPrograms() {
    if (::access("/sys/kernel/btf/vmlinux", R_OK) == 0) {
        return traffic_counter::open();
    }
    auto* skeleton = static_cast<traffic_counter*>(std::calloc(1, sizeof(traffic_counter)));
    if (skeleton == nullptr) {
        return nullptr;
    }
    int error = traffic_counter__create_skeleton(skeleton);
    if (error == 0) {
        bpf_object_skeleton* objects = skeleton->skeleton;
        objects->data = const_cast<void*>(traffic_counter_plain::elf_bytes(&objects->data_sz));
        error = ::bpf_object__open_skeleton(objects, nullptr);
    }
    if (error != 0) {
        traffic_counter::destroy(skeleton);
        errno = -error;
        return nullptr;
    }
    return skeleton;
}

} // namespace

void TrafficProgram::SkeletonDestroyer::operator()(traffic_counter* skeleton) const {
    traffic_counter::destroy(skeleton);
}

void TrafficProgram::RingBufferFree::operator()(ring_buffer* buffer) const {
    ::ring_buffer__free(buffer);
}

TrafficProgram::TrafficProgram(const std::string& cgroup, std::uint64_t ownNetnsCookie,
                               bool verboseLoader, const TableSizes& sizes,
                               const UsersCgroup& users) {
    g_verboseLoader = verboseLoader;
    ::libbpf_set_print(&ToJournal);
    m_cpus = ::libbpf_num_possible_cpus();
    if (m_cpus <= 0) {
        throw Refused("liczba procesorów", m_cpus);
    }
    // The programs that claim accepted connections need the kernel's BTF and TCP's send
    // and receive tracepoints (6.11), or else the sockets' own (6.6), which run for
    // every datagram too; a kernel without either counts those connections for the
    // listener's owner.
    int error = ENOENT;
    if (::access("/sys/kernel/btf/vmlinux", R_OK) == 0) {
        for (const Claims claims : {Claims::OnTcp, Claims::OnEverySocket}) {
            if (error != 0) {
                error = Load(ownNetnsCookie, sizes, users, claims);
            }
        }
    }
    if (error != 0) {
        error = Load(ownNetnsCookie, sizes, users, Claims::None);
    }
    if (error != 0) {
        throw Refused("załadowanie programów BPF", error);
    }
    const UniqueFd directory(::open(cgroup.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.Valid()) {
        throw Refused("otwarcie " + cgroup, errno);
    }
    // Links, not plain attachments: several programs sit side by side at the cgroup
    // (systemd's own among them), and ours go away with the process.
    const auto& progs = m_skeleton->progs;
    auto& links = m_skeleton->links;
    for (auto [program, link] : {std::pair{progs.tag_socket, &links.tag_socket},
                                 std::pair{progs.count_ingress, &links.count_ingress},
                                 std::pair{progs.count_egress, &links.count_egress}}) {
        *link = ::bpf_program__attach_cgroup(program, directory.Get());
        if (*link == nullptr) {
            throw Refused("dołączenie programu BPF do " + cgroup, errno);
        }
    }
    for (auto [program, link] : {std::pair{progs.claim_on_send, &links.claim_on_send},
                                 std::pair{progs.claim_on_receive, &links.claim_on_receive},
                                 std::pair{progs.release_on_destroy, &links.release_on_destroy}}) {
        if (!ClaimsAcceptedConnections()) {
            break; // none of them was loaded
        }
        *link = ::bpf_program__attach(program);
        if (*link == nullptr) {
            throw Refused("dołączenie programu BPF do punktu śledzenia jądra", errno);
        }
    }
    // Pending counters only once the service can fold them, CPU by CPU.
    m_skeleton->bss->folds_pending = FoldPending(true);
    m_newCgroups.reset(::ring_buffer__new(::bpf_map__fd(m_skeleton->maps.new_cgroups),
                                          &TrafficProgram::OnNewCgroup, this, nullptr));
    if (!m_newCgroups) {
        throw Refused("bufor nowych grup", errno);
    }
}

TrafficProgram::~TrafficProgram() = default;

int TrafficProgram::Load(std::uint64_t ownNetnsCookie, const TableSizes& sizes,
                         const UsersCgroup& users, Claims claimsOn) {
    m_skeleton.reset(OpenPrograms());
    if (!m_skeleton) {
        throw Refused("otwarcie programów BPF", errno);
    }
    m_skeleton->rodata->own_netns_cookie = ownNetnsCookie;
    m_skeleton->rodata->netns_of_packets =
        ::libbpf_probe_bpf_helper(BPF_PROG_TYPE_CGROUP_SKB, BPF_FUNC_get_netns_cookie, nullptr) ==
        1;
    m_skeleton->rodata->users_cgroup_id = users.id;
    m_skeleton->rodata->users_cgroup_level = users.level;
    m_skeleton->rodata->entries_per_user = sizes.entriesPerUser;
    for (auto [map, entries] : {std::pair{m_skeleton->maps.traffic, sizes.counters},
                                std::pair{m_skeleton->maps.traffic_overflow, sizes.overflowRows},
                                std::pair{m_skeleton->maps.user_prefixes, sizes.userPrefixes}}) {
        if (const int error = ::bpf_map__set_max_entries(map, entries); error != 0) {
            throw Refused(std::string("rozmiar mapy ") + ::bpf_map__name(map), error);
        }
    }
    const auto& progs = m_skeleton->progs;
    const bool claims = claimsOn != Claims::None;
    m_skeleton->rodata->claims_connections = claims;
    for (bpf_program* program :
         {progs.claim_on_send, progs.claim_on_receive, progs.release_on_destroy}) {
        ::bpf_program__set_autoload(program, claims);
    }
    if (claimsOn == Claims::OnEverySocket) {
        for (auto [program, tracepoint] : {std::pair{progs.claim_on_send, "sock_send_length"},
                                           std::pair{progs.claim_on_receive, "sock_recv_length"}}) {
            if (const int error = ::bpf_program__set_attach_target(program, 0, tracepoint);
                error != 0) {
                return error;
            }
        }
    }
    return traffic_counter::load(m_skeleton.get());
}

bool TrafficProgram::KnowsPacketNamespaces() const {
    return m_skeleton->rodata->netns_of_packets != 0;
}

bool TrafficProgram::ClaimsAcceptedConnections() const {
    return m_skeleton->rodata->claims_connections != 0;
}

bool TrafficProgram::FoldsPendingCounters() const {
    return m_skeleton->bss->folds_pending != 0;
}

bool TrafficProgram::FoldPending(bool everyCpu) const {
    // Every CPU's at once: one that holds nothing (an idle one, most often) is left
    // asleep, not woken by an interrupt for an empty fold.
    std::vector<bpf::pending_counters> held(static_cast<std::size_t>(m_cpus));
    const std::uint32_t first = 0;
    const bool read =
        ::bpf_map_lookup_elem(::bpf_map__fd(m_skeleton->maps.pending), &first, held.data()) == 0;
    const int program = ::bpf_program__fd(m_skeleton->progs.fold_pending);
    for (int cpu = 0; cpu < m_cpus; ++cpu) {
        const auto& ways = held[static_cast<std::size_t>(cpu)].ways;
        if (!everyCpu && read &&
            std::none_of(std::begin(ways), std::end(ways),
                         [](const bpf::pending_way& way) { return way.value.packets != 0; })) {
            continue;
        }
        // Busy: the fold interrupted a packet's program, which ends within microseconds.
        for (int attempt = 0; attempt < 1000; ++attempt) {
            bpf_test_run_opts run{.sz = sizeof(bpf_test_run_opts),
                                  .flags = BPF_F_TEST_RUN_ON_CPU,
                                  .cpu = static_cast<std::uint32_t>(cpu)};
            if (::bpf_prog_test_run_opts(program, &run) != 0) {
                if (errno != ENXIO) {
                    return false;
                }
                break; // offline: what it holds waits for it to come back
            }
            if (run.retval == 0) {
                break;
            }
        }
    }
    return true;
}

int TrafficProgram::NewCgroupsDescriptor() const {
    return ::ring_buffer__epoll_fd(m_newCgroups.get());
}

int TrafficProgram::OnNewCgroup(void* context, void* data, std::size_t size) {
    auto* self = static_cast<TrafficProgram*>(context);
    bpf::new_cgroup event{};
    if (size >= sizeof event && self->m_onCgroup != nullptr) {
        std::memcpy(&event, data, sizeof event);
        std::array<std::uint64_t, bpf::TRAFFIC_CGROUP_LEVELS> ancestors{};
        std::copy(std::begin(event.ancestors), std::end(event.ancestors), ancestors.begin());
        (*self->m_onCgroup)(event.cgroup_id,
                            std::string_view(event.name, ::strnlen(event.name, sizeof event.name)),
                            ancestors);
    }
    return 0;
}

int TrafficProgram::TakeNewCgroups(const CgroupHandler& onCgroup) {
    m_onCgroup = &onCgroup;
    const int consumed = ::ring_buffer__consume(m_newCgroups.get());
    m_onCgroup = nullptr;
    return consumed < 0 ? -consumed : 0;
}

std::vector<TrafficProgram::Counter> TrafficProgram::ReadCounters() const {
    // On every read, so none misses a packet counted before it: a run on each CPU costs
    // less than the read of the map that follows.
    if (FoldsPendingCounters()) {
        FoldPending(false);
    }
    return ReadPerCpuMap<bpf::traffic_key>(
        ::bpf_map__fd(m_skeleton->maps.traffic), m_cpus,
        [](const bpf::traffic_key& key, TrafficProgram::Counter& out) { out.key = key; });
}

std::vector<TrafficProgram::Counter> TrafficProgram::ReadOverflow() const {
    return ReadPerCpuMap<bpf::overflow_key>(
        ::bpf_map__fd(m_skeleton->maps.traffic_overflow), m_cpus,
        [](const bpf::overflow_key& key, TrafficProgram::Counter& out) {
            out.key = {.netns_cookie = key.netns_cookie,
                       .ifindex = key.ifindex,
                       .uid = key.uid,
                       .direction = key.direction,
                       .locality = key.locality};
            out.usersRest = key.owned != 0;
        });
}

bpf::traffic_value TrafficProgram::TakeCounter(const Counter& read) {
    const int map = ::bpf_map__fd(m_skeleton->maps.traffic);
    std::vector<bpf::traffic_value> perCpu(static_cast<std::size_t>(m_cpus));
    // One step in the kernel, so nothing added between a read and a delete is lost.
    if (::bpf_map_lookup_and_delete_elem(map, &read.key, perCpu.data()) == 0) {
        ReleaseUserEntry(read.key);
        return SumOverCpus(perCpu);
    }
    // A kernel without it for this map (before 5.14): what was read, then the delete.
    if (::bpf_map_delete_elem(map, &read.key) == 0) {
        ReleaseUserEntry(read.key);
    }
    return read.value;
}

bool TrafficProgram::ReleaseUserEntry(const bpf::traffic_key& key) {
    if (key.user == 0) {
        return true; // unbounded: nothing was counted
    }
    // Only the service writes this map, so reading and writing it back loses nothing.
    const int map = ::bpf_map__fd(m_skeleton->maps.released_entries);
    std::uint64_t released = 0;
    ::bpf_map_lookup_elem(map, &key.user, &released); // none yet: 0
    ++released;
    return ::bpf_map_update_elem(map, &key.user, &released, BPF_ANY) == 0;
}

std::uint64_t TrafficProgram::MemoryBytes() const {
    std::uint64_t total = 0;
    bpf_map* map = nullptr;
    bpf_object* object = m_skeleton->obj;
    while ((map = ::bpf_object__next_map(object, map)) != nullptr) {
        // The kernel's own figure, per-CPU values and the trie's nodes in use included.
        std::ifstream info("/proc/self/fdinfo/" + std::to_string(::bpf_map__fd(map)));
        for (std::string line; std::getline(info, line);) {
            if (line.starts_with("memlock:")) {
                total += std::strtoull(line.c_str() + std::strlen("memlock:"), nullptr, 10);
            }
        }
    }
    return total;
}

std::vector<platform::linux_impl::TableFill> TrafficProgram::Fills() const {
    std::vector<platform::linux_impl::TableFill> fills;
    const auto& maps = m_skeleton->maps;
    for (const bpf_map* map : {maps.traffic, maps.traffic_overflow, maps.local_prefixes,
                               maps.connected_prefixes, maps.user_prefixes, maps.user_shares}) {
        const int fd = ::bpf_map__fd(map);
        std::vector<char> key(::bpf_map__key_size(map));
        std::vector<char> next(key.size());
        platform::linux_impl::TableFill fill{.name = ::bpf_map__name(map),
                                             .limit = ::bpf_map__max_entries(map)};
        // Bounded: a walk that starts over (a key deleted under it) counts no further.
        for (const void* previous = nullptr;
             fill.used < fill.limit && ::bpf_map_get_next_key(fd, previous, next.data()) == 0;
             previous = key.data()) {
            key.swap(next);
            ++fill.used;
        }
        fills.push_back(std::move(fill));
    }
    return fills;
}

bool TrafficProgram::SetLocal(const IpPrefix& prefix, bool present) {
    bpf::address_prefix key{.prefix_length = prefix.length};
    std::memcpy(key.address, prefix.address.data(), sizeof key.address);
    return SetPrefix(::bpf_map__fd(m_skeleton->maps.local_prefixes), &key, present);
}

bool TrafficProgram::SetPrefix(int map, const void* key, bool present) {
    const std::uint8_t yes = 1;
    const int result =
        present ? ::bpf_map_update_elem(map, key, &yes, BPF_ANY) : ::bpf_map_delete_elem(map, key);
    if (result != 0) {
        // Nothing changed: the remembered classes still hold.
        return !present && errno == ENOENT;
    }
    // The sockets' remembered classes are looked up anew from their next packet.
    ++m_skeleton->bss->prefix_generation;
    return true;
}

bool TrafficProgram::SetScoped(int map, std::uint32_t scope, const IpPrefix& prefix, bool present) {
    bpf::scoped_prefix key{.prefix_length =
                               static_cast<__u32>(bpf::TRAFFIC_SCOPE_BITS + prefix.length),
                           .scope = scope};
    std::memcpy(key.address, prefix.address.data(), sizeof key.address);
    return SetPrefix(map, &key, present);
}

bool TrafficProgram::SetConnected(std::uint32_t ifindex, const IpPrefix& prefix, bool present) {
    return SetScoped(::bpf_map__fd(m_skeleton->maps.connected_prefixes), ifindex, prefix, present);
}

bool TrafficProgram::SetUserLocal(std::uint32_t uid, const IpPrefix& prefix, bool present) {
    return SetScoped(::bpf_map__fd(m_skeleton->maps.user_prefixes), uid, prefix, present);
}

bool TrafficProgram::SetMtu(std::uint32_t ifindex, std::uint32_t mtu) {
    const int map = ::bpf_map__fd(m_skeleton->maps.link_mtus);
    const bool done = mtu == 0 ? ::bpf_map_delete_elem(map, &ifindex) == 0 || errno == ENOENT
                               : ::bpf_map_update_elem(map, &ifindex, &mtu, BPF_ANY) == 0;
    if (done && mtu == 0) {
        m_mtus.erase(ifindex);
    } else if (done) {
        m_mtus[ifindex] = mtu;
    }
    const auto smallest = std::ranges::min_element(
        m_mtus, [](const auto& one, const auto& other) { return one.second < other.second; });
    m_skeleton->bss->smallest_mtu = smallest == m_mtus.end() ? 0 : smallest->second;
    return done;
}

} // namespace quantiro::collector
