// Counts every packet that has a local socket, by namespace, interface, direction,
// locality and who opened the socket (or, for an accepted connection, first used it).
// Attached to the cgroup v2 hierarchy, and to TCP's send, receive and destroy
// tracepoints; reads the packet, its socket and the helpers' answers, and the
// creating task's names through the kernel's BTF. Each CPU keeps the counters its
// last few sockets' packets went to until the service folds them into the map.
#include "collector/bpf/traffic_counter.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>
#include <linux/bpf.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/in.h>
#include <linux/ip.h>
#include <linux/ipv6.h>

char LICENSE[] SEC("license") = "GPL";

// The few kernel fields read, relocated against the running kernel's BTF at load.
// Built a second time with TRAFFIC_WITHOUT_BTF, for kernels that have none.
struct kernfs_node {
    const char* name;
} __attribute__((preserve_access_index));

struct cgroup {
    struct kernfs_node* kn;
} __attribute__((preserve_access_index));

struct css_set {
    struct cgroup* dfl_cgrp;
} __attribute__((preserve_access_index));

struct task_struct {
    struct css_set* cgroups;
    struct task_struct* group_leader;
    char comm[TRAFFIC_COMM_SIZE];
} __attribute__((preserve_access_index));

struct sock;

// Set by the service before loading: its own namespace, the one whose connected
// prefixes it knows.
const volatile __u64 own_netns_cookie = 0;

// Set by the service when the kernel tells a packet's namespace to these programs:
// the packets of a socket older than them have no tag to tell it.
const volatile __u8 netns_of_packets = 0;

// Set by the service before loading: the users' cgroup (user.slice), at its level of
// the hierarchy (0: none), whose children are the users' slices; and how many counters
// each user may hold.
const volatile __u64 users_cgroup_id = 0;
const volatile __u32 users_cgroup_level = 0;
const volatile __u32 entries_per_user = TRAFFIC_ENTRIES_PER_USER;

// Set by the service when it attaches the programs that claim accepted connections:
// without them a held packet would never be counted.
const volatile __u8 claims_connections = 0;

// Raised by the service whenever a trie changes, so no socket's remembered class
// outlives the prefixes it was looked up in.
volatile __u32 prefix_generation = 0;

// Set by the service once it can fold each CPU's pending counters (below) into the map
// before it reads; until then every packet goes to the map as it comes.
volatile __u32 folds_pending = 0;

// The smallest MTU of link_mtus (0: none known), set by the service: a packet no
// longer than that is never fragmented, and looks up no link.
volatile __u32 smallest_mtu = 0;

// Cloned with the socket: a connection accepted by a listener is its owner's too.
struct {
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC | BPF_F_CLONE);
    __type(key, int);
    __type(value, struct socket_tag);
} socket_tags SEC(".maps");

// Cgroups already announced; least recently used ones are forgotten and announced
// again, which costs the service one lookup in its cache.
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 4096);
    __type(key, __u64);
    __type(value, __u8);
} seen_cgroups SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 256 * 1024);
} new_cgroups SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_HASH);
    __uint(max_entries, TRAFFIC_ENTRIES);
    __type(key, struct traffic_key);
    __type(value, struct traffic_value);
} traffic SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_HASH);
    __uint(max_entries, TRAFFIC_OVERFLOW_ENTRIES);
    __type(key, struct overflow_key);
    __type(value, struct traffic_value);
} traffic_overflow SEC(".maps");

// By user (see traffic_key): made on a user's first counter, small and never per CPU.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __uint(max_entries, TRAFFIC_USERS);
    __type(key, __u64);
    __type(value, struct user_share);
} user_shares SEC(".maps");

// Written by the service alone: how many of each user's counters it took off the map.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __uint(max_entries, TRAFFIC_USERS);
    __type(key, __u64);
    __type(value, __u64);
} released_entries SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_LPM_TRIE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __uint(max_entries, 1024);
    __type(key, struct address_prefix);
    __type(value, __u8);
} local_prefixes SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_LPM_TRIE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __uint(max_entries, 4096);
    __type(key, struct scoped_prefix);
    __type(value, __u8);
} connected_prefixes SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_LPM_TRIE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __uint(max_entries, TRAFFIC_USER_PREFIX_ENTRIES);
    __type(key, struct scoped_prefix);
    __type(value, __u8);
} user_prefixes SEC(".maps");

// Each interface's MTU in the service's namespace, from rtnetlink: a longer datagram
// crosses the link as fragments.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 4096);
    __type(key, __u32);
    __type(value, __u32);
} link_mtus SEC(".maps");

// An echo request's destination and id: its reply belongs to the socket that sent it,
// whichever other raw sockets see the reply too.
struct echo_key {
    __u8 remote[16];
    __u16 id;
    __u8 protocol;
    __u8 unused[5];
};

struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 1024);
    __type(key, struct echo_key);
    __type(value, __u64); // the sending socket's cookie
} echo_senders SEC(".maps");

// The counters a few sockets' packets last went to on this CPU, and its last shared
// packet (see pending_counters).
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct pending_counters);
} pending SEC(".maps");

// Orders writes against a program that interrupts this one on the same CPU, the only
// other reader of what it orders.
#define compiler_barrier() asm volatile("" ::: "memory")

// ICMP's echo types (linux/icmp.h would bring the C library's headers in).
#define ICMP_ECHOREPLY 0
#define ICMP_ECHO 8
#define ICMPV6_ECHO_REQUEST 128
#define ICMPV6_ECHO_REPLY 129
// socket(2)'s type of a raw socket, which gets a copy of every packet of its protocol.
#define RAW_SOCKET 3
// The smallest datagram every IPv4 link carries whole: shorter ones are never fragments.
#define SMALLEST_MTU 576

// The user a socket's counters count against, from its cgroup's ancestors: below the
// users' cgroup its user's slice, whichever uid the process has (a user's subordinate
// uids share the slice); elsewhere its uid.
static __always_inline __u64 user_of(__u64 users_cgroup, __u64 user_slice, __u32 uid) {
    if (users_cgroup_level != 0 && users_cgroup == users_cgroup_id && user_slice != 0) {
        return user_slice;
    }
    return uid == 0 ? 0 : TRAFFIC_USER_BY_UID | uid;
}

// Notes the current task as the tag's owner, and announces its cgroup when new.
static __always_inline void note_owner(struct socket_tag* tag) {
    __u64 cgroup_id = bpf_get_current_cgroup_id();
    tag->uid = (__u32)bpf_get_current_uid_gid();
    tag->user = user_of(bpf_get_current_ancestor_cgroup_id(users_cgroup_level),
                        bpf_get_current_ancestor_cgroup_id(users_cgroup_level + 1), tag->uid);
#ifdef TRAFFIC_WITHOUT_BTF
    bpf_get_current_comm(tag->comm, sizeof tag->comm);
#else
    // The process's name, its main thread's: not that of the thread making the socket
    // ("Socket Thread", "pool-1-thread-1").
    struct task_struct* task = bpf_get_current_task_btf();
    BPF_CORE_READ_STR_INTO(&tag->comm, task, group_leader, comm);
#endif
    // Last: a packet read meanwhile pairs the old cgroup with the new name at worst.
    tag->cgroup_id = cgroup_id;

    // The service resolves the cgroup's path now, while a short-lived scope exists; its
    // name goes along, for a scope gone before the service looked.
    __u8 seen = 1;
    if (bpf_map_update_elem(&seen_cgroups, &cgroup_id, &seen, BPF_NOEXIST) == 0) {
        struct new_cgroup* event = bpf_ringbuf_reserve(&new_cgroups, sizeof *event, 0);
        if (event) {
            event->cgroup_id = cgroup_id;
            // The chain down from the root, so no cgroup is looked for in the whole tree.
            for (int level = 0; level < TRAFFIC_CGROUP_LEVELS; ++level) {
                event->ancestors[level] = bpf_get_current_ancestor_cgroup_id(level);
            }
#ifdef TRAFFIC_WITHOUT_BTF
            event->name[0] = 0;
#else
            const char* name = BPF_CORE_READ(task, cgroups, dfl_cgrp, kn, name);
            bpf_probe_read_kernel_str(event->name, sizeof event->name, name); // "" on failure
#endif
            bpf_ringbuf_submit(event, 0);
        } else {
            bpf_map_delete_elem(&seen_cgroups, &cgroup_id); // announced by the next socket
        }
    }
}

SEC("cgroup/sock_create")
int tag_socket(struct bpf_sock* sock) {
    struct socket_tag* tag = bpf_sk_storage_get(&socket_tags, sock, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (!tag) {
        return 1;
    }
    tag->netns_cookie = bpf_get_netns_cookie(sock);
    tag->made_for = bpf_get_socket_cookie(sock);
    tag->socket_type = (__u16)sock->type;
    tag->protocol = (__u8)sock->protocol;
    note_owner(tag);
    return 1;
}

struct packet_shape {
    __u8 remote[16];
    __u64 bytes;
    __u64 packets;
    __u64 split_bytes;
    __u32 split_packets;
    __u32 ip_header; // of the packet, and of each of its fragments
    __u8 protocol;
    __u8 ipv6;
    __u8 icmp_type;
    __u16 echo_id;
};

static __always_inline int is_icmp(const struct packet_shape* shape) {
    return shape->protocol == (shape->ipv6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP);
}

// Copies `words` 32-bit words at `offset` of the packet: straight from its linear part
// when they are there, which spares a helper call, else through the helper.
static __always_inline int load(struct __sk_buff* skb, __u32 offset, __u32* to, __u32 words) {
    const __u8* data = (const __u8*)(long)skb->data;
    const __u8* end = (const __u8*)(long)skb->data_end;
    if (offset <= 128 && data + offset + words * 4 <= end) {
        const __u32* from = (const __u32*)(data + offset);
        for (__u32 at = 0; at < words; ++at) {
            to[at] = from[at];
        }
        return 0;
    }
    return bpf_skb_load_bytes(skb, offset, to, words * 4);
}

static __always_inline __u64 mix(__u64 hash, __u64 word) {
    hash = (hash ^ word) * 0x9e3779b97f4a7c15ULL;
    return hash ^ (hash >> 29);
}

// The remote address and the packet's size, and for a GSO or GRO packet what its
// further segments repeat: their own IP and transport headers. ICMP's type and echo id.
static __always_inline int read_shape(struct __sk_buff* skb, __u8 direction,
                                      struct packet_shape* shape) {
    shape->bytes = skb->len;
    shape->packets = 1;
    if (skb->protocol == bpf_htons(ETH_P_IP)) {
        struct iphdr ip;
        if (load(skb, 0, (__u32*)&ip, sizeof ip / 4) < 0) {
            return -1;
        }
        shape->ip_header = ip.ihl * 4;
        shape->protocol = ip.protocol;
        __u32 remote = direction == TRAFFIC_TX ? ip.daddr : ip.saddr;
        // ::ffff:a.b.c.d, written a word at a time: the tries' and the cache's reads of
        // whole words would stall on narrower writes.
        const __u64 mapped[2] = {0, 0xffff0000ULL | (__u64)remote << 32};
        __builtin_memcpy(shape->remote, mapped, sizeof mapped);
    } else if (skb->protocol == bpf_htons(ETH_P_IPV6)) {
        struct ipv6hdr ip;
        if (load(skb, 0, (__u32*)&ip, sizeof ip / 4) < 0) {
            return -1;
        }
        shape->ip_header = sizeof ip;
        shape->protocol = ip.nexthdr;
        shape->ipv6 = 1;
        // The header was copied a 32-bit word at a time: read so, and written whole, for
        // the same reason as an IPv4 remote.
        const __u32* address = (const __u32*)(direction == TRAFFIC_TX ? &ip.daddr : &ip.saddr);
        const __u64 remote[2] = {*(volatile const __u32*)&address[0] |
                                     (__u64) * (volatile const __u32*)&address[1] << 32,
                                 *(volatile const __u32*)&address[2] |
                                     (__u64) * (volatile const __u32*)&address[3] << 32};
        __builtin_memcpy(shape->remote, remote, sizeof remote);
    } else {
        return -1;
    }

    if (is_icmp(shape)) {
        // Type, code, checksum and echo id.
        __u8 icmp[8] __attribute__((aligned(4))) = {};
        load(skb, shape->ip_header, (__u32*)icmp, sizeof icmp / 4);
        shape->icmp_type = icmp[0];
        __builtin_memcpy(&shape->echo_id, &icmp[4], sizeof shape->echo_id);
    }

    __u32 segments = skb->gso_segs;
    if (segments > 1) {
        __u32 transport_header = 0;
        if (shape->protocol == IPPROTO_TCP) {
            __u8 word[4] __attribute__((aligned(4))) = {}; // data offset: byte 12's high nibble
            if (load(skb, shape->ip_header + 12, (__u32*)word, 1) == 0) {
                transport_header = (word[0] >> 4) * 4;
            }
        } else if (shape->protocol == IPPROTO_UDP) {
            transport_header = 8;
        }
        shape->split_bytes = (__u64)(segments - 1) * (shape->ip_header + transport_header);
        shape->split_packets = segments - 1;
    }
    return 0;
}

// A hash of the packet's length, IP header and the transport's first 8 bytes (ICMP's
// type to echo id, a port pair and a checksum, and so on): it tells copies of one
// packet from other packets.
static __always_inline __u64 fingerprint_of(struct __sk_buff* skb,
                                            const struct packet_shape* shape) {
    __u64 words[5] = {};
    if (shape->ipv6) {
        load(skb, 0, (__u32*)words, 10);
    } else {
        load(skb, 0, (__u32*)words, 5);
    }
    __u64 transport = 0;
    load(skb, shape->ip_header, (__u32*)&transport, 2);
    __u64 hash = skb->len;
    for (int word = 0; word < 5; ++word) {
        hash = mix(hash, words[word]);
    }
    return mix(hash, transport);
}

// A datagram longer than the link's MTU crosses it as fragments: sent before the stack
// splits it, received after it joined them. Each fragment has its own IP header (and
// IPv6's a fragment header too), and the link counts each as a packet.
static __always_inline void add_fragments(struct packet_shape* shape, __u32 ifindex) {
    const __u32* mtu = bpf_map_lookup_elem(&link_mtus, &ifindex);
    if (!mtu) {
        return;
    }
    const __u32 fragment_header = shape->ipv6 ? 8 : 0;
    const __u32 header = shape->ip_header;
    if (shape->bytes <= *mtu || *mtu < header + fragment_header + 8) {
        return;
    }
    // Every fragment but the last carries a multiple of 8 bytes.
    const __u32 room = (*mtu - header - fragment_header) & ~7U;
    const __u32 fragments = ((__u32)shape->bytes - header + room - 1) / room;
    shape->bytes += (__u64)(fragments - 1) * header + (__u64)fragments * fragment_header;
    shape->packets = fragments;
}

static __always_inline __u8 locality_of(const __u8 remote[16], __u64 netns_cookie, __u32 ifindex,
                                        __u32 uid) {
    struct address_prefix global = {.prefix_length = TRAFFIC_ADDRESS_BITS};
    __builtin_memcpy(global.address, remote, 16);
    if (bpf_map_lookup_elem(&local_prefixes, &global)) {
        return TRAFFIC_LOCAL;
    }
    struct scoped_prefix scoped = {.prefix_length = TRAFFIC_SCOPE_BITS + TRAFFIC_ADDRESS_BITS,
                                   .scope = uid};
    __builtin_memcpy(scoped.address, remote, 16);
    if (bpf_map_lookup_elem(&user_prefixes, &scoped)) {
        return TRAFFIC_LOCAL;
    }
    // Connected prefixes are known for the service's namespace only.
    if (netns_cookie == own_netns_cookie) {
        scoped.scope = ifindex;
        if (bpf_map_lookup_elem(&connected_prefixes, &scoped)) {
            return TRAFFIC_LOCAL;
        }
    }
    return TRAFFIC_BILLED;
}

static __always_inline void add_to(struct traffic_value* value, const struct packet_shape* shape) {
    // Per-CPU values, but a packet's program may interrupt another's addition, or the
    // fold a packet's, on the same CPU: a plain read and write would lose one of them.
    __sync_fetch_and_add(&value->bytes, shape->bytes);
    __sync_fetch_and_add(&value->packets, shape->packets);
    if (shape->split_packets) {
        __sync_fetch_and_add(&value->split_bytes, shape->split_bytes);
        __sync_fetch_and_add(&value->split_packets, shape->split_packets);
    }
}

// Whose a socket's packets are, the name apart: its tag's, or for a socket without
// one what its packets tell.
struct packet_owner {
    __u64 netns_cookie;
    __u64 cgroup_id;
    __u64 user;
    __u32 uid;
};

static __always_inline struct packet_owner owner_of_tag(const struct socket_tag* tag) {
    return (struct packet_owner){.netns_cookie = tag->netns_cookie,
                                 .cgroup_id = tag->cgroup_id,
                                 .user = tag->user,
                                 .uid = tag->uid};
}

static __always_inline struct packet_owner owner_from_packet(struct __sk_buff* skb) {
    struct packet_owner owner = {.cgroup_id = bpf_skb_cgroup_id(skb),
                                 .uid = bpf_get_socket_uid(skb)};
    owner.user = user_of(bpf_skb_ancestor_cgroup_id(skb, users_cgroup_level),
                         bpf_skb_ancestor_cgroup_id(skb, users_cgroup_level + 1), owner.uid);
    // Without it the namespace stays 0, which no namespace's figures show. The verifier
    // skips the call when it is off, so older kernels load the programs.
    if (netns_of_packets) {
        owner.netns_cookie = bpf_get_netns_cookie(skb);
    }
    return owner;
}

// Writes a packet's key a whole word at a time: a wide read of a word that narrower
// writes filled waits until they reach the cache, and the key's comparison and hash
// read whole words. `comm` 0: no name (a socket without a tag).
static __always_inline void key_of(struct traffic_key* key, const struct packet_owner* owner,
                                   const char* comm, __u32 ifindex, __u8 direction, __u8 locality) {
    __u64* words = (__u64*)key;
    words[0] = owner->netns_cookie;
    words[1] = owner->cgroup_id;
    words[2] = owner->user;
    words[3] = ifindex | (__u64)owner->uid << 32;
    words[4] = direction | (__u64)locality << 8;
    if (comm) {
        __builtin_memcpy(&words[5], comm, sizeof key->comm);
    } else {
        words[5] = 0;
        words[6] = 0;
    }
}

// The remote and interface a packet is asked about, under the tries' present
// generation, as one hash: bit 1 set, so never the 0 of a socket that has looked
// nothing up yet; bit 0 is left for the answer, the class.
static __always_inline __u64 remote_place(__u32 ifindex, const struct packet_shape* shape) {
    __u64 remote[2];
    __builtin_memcpy(remote, shape->remote, sizeof remote);
    const __u64 generation = prefix_generation;
    return (mix(mix(ifindex | generation << 32, remote[0]), remote[1]) & ~3ULL) | 2;
}

// The remote's locality, from the socket's last answer while it still holds: the same
// remote, interface and prefixes (`asked`). Otherwise it is looked up and remembered.
static __always_inline __u8 remembered_locality(struct socket_tag* tag,
                                                const struct packet_shape* shape, __u64 asked,
                                                __u64 netns_cookie, __u32 ifindex, __u32 uid) {
    if (tag) {
        const __u64 last = *(volatile __u64*)&tag->last_class;
        if ((last & ~1ULL) == asked) {
            return last & 1;
        }
    }
    const __u8 locality = locality_of(shape->remote, netns_cookie, ifindex, uid);
    if (tag) {
        *(volatile __u64*)&tag->last_class = asked | locality;
    }
    return locality;
}

enum { ADDED, MADE, FULL };

// Adds the packet to `key`'s counters in `map`, making them when they are new (MADE);
// FULL only when they are new and the map is full.
static __always_inline int add_at(void* map, const void* key, const struct packet_shape* shape) {
    struct traffic_value* value = bpf_map_lookup_elem(map, key);
    if (!value) {
        struct traffic_value first = {.bytes = shape->bytes,
                                      .packets = shape->packets,
                                      .split_bytes = shape->split_bytes,
                                      .split_packets = shape->split_packets};
        if (bpf_map_update_elem(map, key, &first, BPF_NOEXIST) == 0) {
            return MADE;
        }
        value = bpf_map_lookup_elem(map, key); // another CPU was first
        if (!value) {
            return FULL;
        }
    }
    add_to(value, shape);
    return ADDED;
}

static __always_inline struct user_share* share_of(__u64 user) {
    struct user_share* share = bpf_map_lookup_elem(&user_shares, &user);
    if (!share) {
        const struct user_share none = {};
        bpf_map_update_elem(&user_shares, &user, &none, BPF_NOEXIST);
        share = bpf_map_lookup_elem(&user_shares, &user); // 0 when the map is full
    }
    return share;
}

// Makes `key`'s counters in `map` when the user, `holding` of what `taken` counts, has
// room for one more: checked, then taken, so CPUs making counters at once overshoot
// the bound by one each at most. Without `taken`, unbounded.
static __always_inline int add_bounded(void* map, const void* key, __u64* taken, __u64 holding,
                                       __u64 bound, const struct packet_shape* shape) {
    if (taken && holding >= bound) {
        return FULL;
    }
    if (taken) {
        __sync_fetch_and_add(taken, 1);
    }
    const int outcome = add_at(map, key, shape);
    if (taken && outcome != MADE) {
        __sync_fetch_and_add(taken, -1);
    }
    return outcome;
}

// Adds the packet to its key's counters; past its user's bound, or with the map full,
// to the uid's own row of the interface, and past that user's rows to the interface's.
static __always_inline void add_packet(const struct traffic_key* key,
                                       const struct packet_shape* shape) {
    struct traffic_value* value = bpf_map_lookup_elem(&traffic, key);
    if (value) {
        add_to(value, shape);
        return;
    }
    // Root's own, and the system's, are not bounded; a user the shares map has no room
    // for has no rows of its own either.
    struct user_share* share = key->user ? share_of(key->user) : 0;
    struct overflow_key overflow = {.netns_cookie = key->netns_cookie,
                                    .ifindex = key->ifindex,
                                    .uid = key->uid,
                                    .direction = key->direction,
                                    .locality = key->locality,
                                    .owned = 1};
    if (!key->user || share) {
        __u64 holding = 0;
        if (share) {
            const __u64* released = bpf_map_lookup_elem(&released_entries, &key->user);
            holding = share->entries - (released ? *released : 0);
        }
        if (add_bounded(&traffic, key, share ? &share->entries : 0, holding, entries_per_user,
                        shape) != FULL ||
            add_bounded(&traffic_overflow, &overflow, share ? &share->overflow_rows : 0,
                        share ? share->overflow_rows : 0, TRAFFIC_OVERFLOW_ROWS_PER_USER,
                        shape) != FULL) {
            return;
        }
    }
    // The user's rows are all taken (namespaces of its own each need theirs): the
    // interface's, so nothing is lost.
    overflow.uid = 0;
    overflow.owned = 0;
    add_at(&traffic_overflow, &overflow, shape);
}

static __always_inline int is_echo(const struct packet_shape* shape, __u8 type, __u8 type6) {
    return is_icmp(shape) && shape->icmp_type == (shape->ipv6 ? type6 : type);
}

// Whether this socket's copy of a received packet is the one counted. An echo reply is
// the socket's that sent its request; any other packet several sockets may get (a
// group's, a broadcast, or one raw sockets see beside its own socket) the first copy's.
static __always_inline int counted_copy(struct __sk_buff* skb, const struct packet_shape* shape,
                                        struct shared_packet* last, int shared, __u64 socket) {
    if (is_echo(shape, ICMP_ECHOREPLY, ICMPV6_ECHO_REPLY)) {
        struct echo_key echo = {.id = shape->echo_id, .protocol = shape->protocol};
        __builtin_memcpy(echo.remote, shape->remote, sizeof echo.remote);
        const __u64* sender = bpf_map_lookup_elem(&echo_senders, &echo);
        if (sender) {
            return *sender == socket;
        }
    }
    if (!last || !(shared || last->valid)) {
        return 1;
    }
    const __u64 fingerprint = fingerprint_of(skb, shape);
    // The same socket again is the same data sent again, not a copy.
    const int copy =
        last->valid && last->fingerprint == fingerprint && last->first_socket != socket;
    if (shared && !copy) {
        last->fingerprint = fingerprint;
        last->first_socket = socket;
        last->valid = 1;
    } else if (!shared) {
        last->valid = 0; // its copies are over
    }
    return !copy;
}

// Notes which socket sent an echo request, for its reply.
static __always_inline void note_echo_sender(const struct packet_shape* shape, __u64 socket) {
    if (is_echo(shape, ICMP_ECHO, ICMPV6_ECHO_REQUEST)) {
        struct echo_key echo = {.id = shape->echo_id, .protocol = shape->protocol};
        __builtin_memcpy(echo.remote, shape->remote, sizeof echo.remote);
        bpf_map_update_elem(&echo_senders, &echo, &socket, BPF_ANY);
    }
}

// Counts what an accepted connection held for its claimant, now the tag names it.
// Each counter is taken whole at once, so of two releases at a time each byte goes
// with one.
static __always_inline void release_held(struct socket_tag* tag) {
    const __u64 place = *(volatile __u64*)&tag->held.place;
    if (!place) {
        return;
    }
    for (__u8 direction = TRAFFIC_RX; direction <= TRAFFIC_TX; ++direction) {
        struct packet_shape shape = {
            .bytes = __sync_lock_test_and_set(&tag->held.bytes[direction], 0),
            .packets = __sync_lock_test_and_set(&tag->held.packets[direction], 0),
            .split_bytes = __sync_lock_test_and_set(&tag->held.split_bytes[direction], 0),
            .split_packets =
                (__u32)__sync_lock_test_and_set(&tag->held.split_packets[direction], 0)};
        if (shape.bytes || shape.packets) {
            const struct packet_owner owner = owner_of_tag(tag);
            struct traffic_key key;
            key_of(&key, &owner, tag->comm, (__u32)(place >> 8), direction, (__u8)place);
            add_packet(&key, &shape);
        }
    }
}

// A connection accepted from a listener carries the listener's tag, whose maker (a
// service manager, for a socket-activated service) may never touch it. Its packets
// wait in the tag until a task claims it; one on another interface or with another
// locality than the first counts for the listener's owner as it comes.
static __always_inline int held_until_claimed(struct socket_tag* tag, __u64 cookie, __u32 ifindex,
                                              __u8 direction, __u8 locality,
                                              const struct packet_shape* shape) {
    if (!claims_connections) {
        return 0;
    }
    if (tag->made_for == cookie) {
        return 0;
    }
    const __u64 place = 1ULL << 63 | (__u64)ifindex << 8 | locality;
    const __u64 first = __sync_val_compare_and_swap(&tag->held.place, 0, place);
    if (first != 0 && first != place) {
        return 0;
    }
    const __u8 side = direction & 1;
    __sync_fetch_and_add(&tag->held.bytes[side], shape->bytes);
    __sync_fetch_and_add(&tag->held.packets[side], shape->packets);
    __sync_fetch_and_add(&tag->held.split_bytes[side], shape->split_bytes);
    __sync_fetch_and_add(&tag->held.split_packets[side], shape->split_packets);
    // A claim between the check above and these additions has released before them.
    if (*(volatile __u64*)&tag->made_for == cookie) {
        release_held(tag);
    }
    return 1;
}

// The first task to send or receive on an accepted connection holds it; one in the
// listener's own cgroup (an ordinary server) leaves the tag as it is.
static __always_inline void claim(struct sock* sk) {
    struct socket_tag* tag = bpf_sk_storage_get(&socket_tags, sk, 0, 0);
    if (!tag) {
        return;
    }
    const __u64 cookie = bpf_get_socket_cookie(sk);
    if (tag->made_for == cookie) {
        return;
    }
    if (bpf_get_current_cgroup_id() != tag->cgroup_id) {
        note_owner(tag);
        // Before the claim shows: a packet that sees it reads the new owner.
        compiler_barrier();
    }
    *(volatile __u64*)&tag->made_for = cookie;
    release_held(tag);
}

// TCP's sends and receives, in the task's own context (what the connection moved before
// was held, and goes with the claim). Only a TCP connection is ever accepted, so a
// datagram runs none of these. Kernel tracepoints: a stable hook, with no trampoline
// into the kernel's functions. A kernel without them (before 6.11) has the service
// attach these to every socket's sends and receives instead.
SEC("tp_btf/tcp_sendmsg_locked")
int claim_on_send(unsigned long long* context) {
    struct sock* sk = (struct sock*)context[0];
    if (sk) {
        claim(sk);
    }
    return 0;
}

SEC("tp_btf/tcp_rcv_space_adjust")
int claim_on_receive(unsigned long long* context) {
    struct sock* sk = (struct sock*)context[0];
    if (sk) {
        claim(sk);
    }
    return 0;
}

// A connection gone before anyone claimed it (reset before it was accepted, closed
// unread) counts what it held for the listener's owner.
SEC("tp_btf/tcp_destroy_sock")
int release_on_destroy(unsigned long long* context) {
    struct sock* sk = (struct sock*)context[0];
    struct socket_tag* tag = sk ? bpf_sk_storage_get(&socket_tags, sk, 0, 0) : 0;
    if (tag) {
        release_held(tag);
    }
    return 0;
}

// Counters added up elsewhere, as one packet's shape for the map.
static __always_inline struct packet_shape shape_of(const struct traffic_value* value) {
    return (struct packet_shape){.bytes = value->bytes,
                                 .packets = value->packets,
                                 .split_bytes = value->split_bytes,
                                 .split_packets = (__u32)value->split_packets};
}

// Run by the service on each CPU in turn before it reads the map: this CPU's pending
// counters go to the map. 1 when a packet's program was halfway through them (the
// fold interrupted it): the service asks again.
SEC("raw_tp")
int fold_pending(void* context) {
    const __u32 first = 0;
    struct pending_counters* set = bpf_map_lookup_elem(&pending, &first);
    if (!set) {
        return 0;
    }
    if (*(volatile __u64*)&set->busy) {
        return 1;
    }
    *(volatile __u64*)&set->busy = 1;
    compiler_barrier();
#pragma clang loop unroll(disable)
    for (__u32 index = 0; index < TRAFFIC_PENDING_WAYS; ++index) {
        struct pending_way* way = &set->ways[index];
        const struct packet_shape shape = shape_of(&way->value);
        if (shape.packets) {
            add_packet(&set->keys[index], &shape);
            way->value = (struct traffic_value){};
        }
    }
    compiler_barrier();
    *(volatile __u64*)&set->busy = 0;
    return 0;
}

// A packet's place in the pending counters: its remote and interface as asked
// (remote_place), with bit 2 flipped for a packet sent.
static __always_inline __u64 place_of(__u64 asked, __u8 direction) {
    return asked ^ (__u64)direction << 2;
}

// The way of a socket's packets of one place in a CPU's pending counters.
static __always_inline __u32 way_of(__u64 socket, __u64 place) {
    return (__u32)(mix(socket, place) >> 32) % TRAFFIC_PENDING_WAYS;
}

// Adds the packet to this CPU's pending counters of its socket and place. Without a
// key, only when they are there: most packets end so, having read no tag and built no
// key. With one, the way becomes the socket's for this place and key (the class in
// the place's bit 0), and counters another socket or place held there go to the map
// first, the flag still set, so a fold never misses them. 0 when not added: not
// there, or another program holds the counters (one this one interrupted).
static __always_inline int add_pending(struct pending_counters* set, __u64 socket, __u64 place,
                                       const struct traffic_key* key,
                                       const struct packet_shape* shape) {
    if (*(volatile __u64*)&set->busy) {
        return 0;
    }
    // Programs on one CPU nest, never interleave: a plain flag is enough.
    *(volatile __u64*)&set->busy = 1;
    compiler_barrier();
    const __u32 index = way_of(socket, place & ~1ULL);
    struct pending_way* way = &set->ways[index];
    const int there =
        way->socket == socket && (key ? way->place == place : (way->place & ~1ULL) == place);
    struct traffic_key evicted_key;
    struct packet_shape evicted = {};
    if (!there && key) {
        if (way->value.packets) {
            evicted_key = set->keys[index];
            evicted = shape_of(&way->value);
        }
        set->keys[index] = *key;
        way->socket = socket;
        way->place = place;
        way->value = (struct traffic_value){};
    }
    const int added = there || key;
    if (added) {
        way->value.bytes += shape->bytes;
        way->value.packets += shape->packets;
        way->value.split_bytes += shape->split_bytes;
        way->value.split_packets += shape->split_packets;
    }
    if (evicted.packets) {
        add_packet(&evicted_key, &evicted);
    }
    compiler_barrier();
    *(volatile __u64*)&set->busy = 0;
    return added;
}

// Whether a datagram may cross a link as fragments (add_fragments tells).
static __always_inline int may_be_fragmented(const struct packet_shape* shape) {
    const __u32 smallest = smallest_mtu;
    return shape->split_packets == 0 && shape->bytes > SMALLEST_MTU && smallest &&
           shape->bytes > smallest;
}

// Counts a packet the long way: by its socket's tag, or what the packet tells of an
// untagged one, as a copy several sockets may get, an echo, a held connection's, a
// datagram sent as fragments. Then keeps the socket's counters of the packet's place
// pending, when nothing can change the key they count for.
static __always_inline int count_by_owner(struct __sk_buff* skb, __u8 direction,
                                          struct pending_counters* set, __u64 cookie,
                                          struct packet_shape* shape, int shaped, __u64 asked) {
    // Asked with the socket as the packet has it: the helper finds no tag on a request
    // or time-wait socket, so no call asks first whether it is a full one.
    struct bpf_sock* socket = skb->sk;
    struct socket_tag* tag = socket ? bpf_sk_storage_get(&socket_tags, socket, 0, 0) : 0;
    const __u32 ifindex = skb->ifindex;
    struct packet_owner owner;
    const char* comm = 0;
    __u32 socket_type = 0;
    // Whether the socket's counters may wait in a way under its cookie: only while
    // nothing can change the key they count for.
    int keeps = shaped && cookie;
    if (tag) {
        // A claim gives an accepted connection another owner; it shows in made_for
        // after the owner's fields are written.
        keeps &= tag->protocol != IPPROTO_TCP || !claims_connections ||
                 *(volatile __u64*)&tag->made_for == cookie;
        compiler_barrier();
        owner = owner_of_tag(tag);
        comm = tag->comm;
        socket_type = tag->socket_type;
    } else {
        owner = owner_from_packet(skb);
        // A time-wait socket repeats its full socket's cookie with another owner.
        struct bpf_sock* full = socket ? bpf_sk_fullsock(socket) : 0;
        keeps &= full != 0;
        socket_type = full ? full->type : 0;
    }
    // A raw socket's packets are others' copies too, which only the long way tells.
    keeps &= socket_type != RAW_SOCKET;

    __u8 locality = TRAFFIC_BILLED;
    if (shaped) {
        if (direction == TRAFFIC_TX) {
            note_echo_sender(shape, cookie);
        } else if (set) {
            const int shared = skb->pkt_type == PACKET_BROADCAST ||
                               skb->pkt_type == PACKET_MULTICAST || socket_type == RAW_SOCKET;
            if (!counted_copy(skb, shape, &set->last_shared, shared, cookie)) {
                return 1;
            }
        }
        // Connected links' MTUs are known for the service's namespace only.
        if (may_be_fragmented(shape) && owner.netns_cookie == own_netns_cookie) {
            add_fragments(shape, ifindex);
        }
        locality = remembered_locality(tag, shape, asked, owner.netns_cookie, ifindex, owner.uid);
    }
    // Only a TCP connection is ever accepted.
    if (tag && tag->protocol == IPPROTO_TCP &&
        held_until_claimed(tag, cookie, ifindex, direction, locality, shape)) {
        return 1;
    }
    struct traffic_key key;
    key_of(&key, &owner, comm, ifindex, direction, locality);
    if (!keeps || !set || !folds_pending ||
        !add_pending(set, cookie, place_of(asked, direction) | locality, &key, shape)) {
        add_packet(&key, shape);
    }
    return 1;
}

static __always_inline int count_packet(struct __sk_buff* skb, __u8 direction) {
    // A group's packet a local sender loops back never crossed the link's receive side.
    if (direction == TRAFFIC_RX && skb->pkt_type == PACKET_LOOPBACK) {
        return 1;
    }
    const __u32 first = 0;
    struct pending_counters* set = bpf_map_lookup_elem(&pending, &first);
    // The socket's cookie, unlike its tag, is in the line the stack has just read.
    const __u64 cookie = bpf_get_socket_cookie(skb);
    struct packet_shape shape = {};
    const int shaped = read_shape(skb, direction, &shape) == 0;
    const __u64 asked = shaped ? remote_place(skb->ifindex, &shape) : 0;
    // The short way, for a packet that is its socket's alone, no echo and no fragments,
    // and whose socket's last packets on this CPU went to the same place.
    if (set && folds_pending && shaped && cookie && !is_icmp(&shape) &&
        !may_be_fragmented(&shape) &&
        (direction == TRAFFIC_TX || (skb->pkt_type == PACKET_HOST && !set->last_shared.valid)) &&
        add_pending(set, cookie, place_of(asked, direction), 0, &shape)) {
        return 1;
    }
    return count_by_owner(skb, direction, set, cookie, &shape, shaped, asked);
}

SEC("cgroup_skb/ingress")
int count_ingress(struct __sk_buff* skb) {
    return count_packet(skb, TRAFFIC_RX);
}

SEC("cgroup_skb/egress")
int count_egress(struct __sk_buff* skb) {
    return count_packet(skb, TRAFFIC_TX);
}
