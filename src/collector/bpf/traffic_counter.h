#pragma once

// The records the BPF programs and the service exchange through their maps. Plain C,
// compiled into both; every hole is a named field the programs zero, since a key's
// bytes are compared whole.
#include <linux/types.h>

#ifdef __cplusplus
namespace quantiro::collector::bpf {
#endif

enum {
    TRAFFIC_RX = 0,
    TRAFFIC_TX = 1,
    TRAFFIC_BILLED = 0,
    TRAFFIC_LOCAL = 1,
    TRAFFIC_COMM_SIZE = 16,
    // Enough for "app-<launcher>-<desktop id>-<random>.scope"; a longer name is cut.
    TRAFFIC_CGROUP_NAME_SIZE = 64,
    // Levels of a new cgroup's ancestry told to the service, the root's included:
    // deeper than any systemd hierarchy.
    TRAFFIC_CGROUP_LEVELS = 32,
    TRAFFIC_ENTRIES = 16384,
    TRAFFIC_OVERFLOW_ENTRIES = 1024,
    // Prefix lengths of the tries: 32 bits of scope (an ifindex or a uid), then the
    // address as IPv6, IPv4 mapped into ::ffff:0:0/96.
    TRAFFIC_SCOPE_BITS = 32,
    TRAFFIC_ADDRESS_BITS = 128,
};

// Who opened a socket, noted when it was created; and the class of the remote
// address its last packet had, so a connection's packets skip the tries.
struct socket_tag {
    __u64 cgroup_id;
    __u64 netns_cookie;
    __u32 uid;
    __u32 unused;
    char comm[TRAFFIC_COMM_SIZE];
    // A hash of that remote, the interface and the tries' generation, with the class in
    // the lowest bit: one word, written whole, so packets on two CPUs never leave one
    // remote beside another's class.
    __u64 last_class;
};

// A cgroup a socket was first made in, with its own directory's name read then and
// the ids of its ancestors: the service finds its path from the nearest ancestor it
// knows, and names the owner from the name alone when the cgroup is gone by then.
struct new_cgroup {
    __u64 cgroup_id;
    char name[TRAFFIC_CGROUP_NAME_SIZE]; // empty when the kernel could not tell it
    // ancestors[0] is the root, ancestors[level] the cgroup itself; 0 past it.
    __u64 ancestors[TRAFFIC_CGROUP_LEVELS];
};

struct traffic_key {
    __u64 netns_cookie; // 0: unknown (a socket older than the programs, on an older kernel)
    __u64 cgroup_id;
    __u32 ifindex;
    __u32 uid;
    __u8 direction; // TRAFFIC_RX, TRAFFIC_TX
    __u8 locality;  // TRAFFIC_BILLED, TRAFFIC_LOCAL
    __u8 unused[6];
    char comm[TRAFFIC_COMM_SIZE];
};

// Where a full counters map sends its packets: the interface, no one in particular.
struct overflow_key {
    __u64 netns_cookie;
    __u32 ifindex;
    __u8 direction;
    __u8 locality;
    __u8 unused[2];
};

// A large packet the stack hands over whole (GSO) or received merged (GRO) is one
// packet here, with what a link that carries it as segments repeats counted apart:
// links differ in which of the two their own counters count.
struct traffic_value {
    __u64 bytes; // whole IP packets, as the stack hands them over
    __u64 packets;
    __u64 split_bytes;   // the IP and transport headers each further segment repeats
    __u64 split_packets; // the further segments
};

struct address_prefix {
    __u32 prefix_length; // of address, at most TRAFFIC_ADDRESS_BITS
    __u8 address[16];
};

struct scoped_prefix {
    __u32 prefix_length; // TRAFFIC_SCOPE_BITS + that of the address
    __u32 scope;         // an ifindex or a uid
    __u8 address[16];
};

#ifdef __cplusplus
} // namespace quantiro::collector::bpf
#endif
