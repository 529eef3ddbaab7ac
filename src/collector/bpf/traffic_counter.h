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
    // The maps' sizes unless the service is told others; it sets them before loading.
    TRAFFIC_ENTRIES = 16384,
    TRAFFIC_OVERFLOW_ENTRIES = 4096,
    TRAFFIC_USER_PREFIX_ENTRIES = 4096,
    TRAFFIC_USERS = 8192,
    // Counters a user may hold in the counters map, and rows in the overflow map: past
    // them a user's new owners are summed in the user's own rows, never in others'.
    TRAFFIC_ENTRIES_PER_USER = 2048,
    TRAFFIC_OVERFLOW_ROWS_PER_USER = 64,
    // Owners whose counters each CPU holds pending.
    TRAFFIC_PENDING_WAYS = 8,
    // Prefix lengths of the tries: 32 bits of scope (an ifindex or a uid), then the
    // address as IPv6, IPv4 mapped into ::ffff:0:0/96.
    TRAFFIC_SCOPE_BITS = 32,
    TRAFFIC_ADDRESS_BITS = 128,
};

// What an accepted connection moved before a task claimed it, on one interface and
// with one locality (its first packet's); by direction. Added to atomically: its
// packets and its claim may run on different CPUs at once.
struct held_traffic {
    __u64 bytes[2];
    __u64 packets[2];
    __u64 split_bytes[2];
    __u64 split_packets[2];
    // Bit 63 set once a packet is held; then the interface shifted up 8, the locality.
    __u64 place;
};

// Who opened a socket, noted when it was created; and the class of the remote
// address its last packet had, so a connection's packets skip the tries. What a
// packet counted by its tag reads comes first: the kernel keeps it in the cache line
// it checks the tag's map in (56 bytes of it).
struct socket_tag {
    // The cookie of the socket the tag was made for. A connection accepted from a
    // listener has a copy of the listener's tag, with another cookie, until the first
    // task that sends or receives on it claims it.
    __u64 made_for;
    // A hash of that remote, the interface and the tries' generation, with the class in
    // the lowest bit: one word, written whole, so packets on two CPUs never leave one
    // remote beside another's class.
    __u64 last_class;
    __u64 netns_cookie;
    __u32 uid;
    __u16 socket_type; // socket(2)'s
    __u8 protocol;
    __u8 unused;
    __u64 cgroup_id;
    __u64 user; // whose bound its counters count against: see traffic_key
    char comm[TRAFFIC_COMM_SIZE];
    struct held_traffic held;
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

// A user as the bound of its counters knows it: the cgroup id of its slice below the
// users' cgroup (user.slice), which its subordinate uids' processes share; outside
// that cgroup the uid, with TRAFFIC_USER_BY_UID set. 0, root's outside it: unbounded.
#define TRAFFIC_USER_BY_UID (1ULL << 63)

struct traffic_key {
    __u64 netns_cookie; // 0: unknown (a socket older than the programs, on an older kernel)
    __u64 cgroup_id;
    __u64 user;
    __u32 ifindex;
    __u32 uid;
    __u8 direction; // TRAFFIC_RX, TRAFFIC_TX
    __u8 locality;  // TRAFFIC_BILLED, TRAFFIC_LOCAL
    __u8 unused[6];
    char comm[TRAFFIC_COMM_SIZE];
};

// Where a user past its bound, or a full counters map, sends new owners' packets: the
// uid's own row of the interface ("owned"); past the user's rows too, the interface's,
// no one's in particular.
struct overflow_key {
    __u64 netns_cookie;
    __u32 ifindex;
    __u32 uid;
    __u8 direction;
    __u8 locality;
    __u8 owned;
    __u8 unused[5];
};

// What a user holds in the counters and overflow maps, as the programs counted it; the
// service counts what it took off the counters map apart (released_entries), since
// only the programs add up here.
struct user_share {
    __u64 entries;
    __u64 overflow_rows;
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

// The last received packet on a CPU that several sockets may get: the kernel hands
// its copies to them one after another on one CPU, and only the first is counted.
struct shared_packet {
    __u64 fingerprint;
    __u64 first_socket; // a socket's cookie
    __u64 valid;
};

// The counters a few sockets' packets last went to on one CPU: the next packet of one
// of them, with the same interface, direction and remote, adds here without reading
// the tag or building a key, sparing the lookup in the counters map. The service has
// them folded into the map, CPU by CPU, before it reads. Only that CPU's programs and
// the fold touch them; `busy` tells one that interrupted another to use the map.
struct pending_way {
    __u64 socket; // its cookie; keys[way] holds its key, which never changes
    // A hash of the interface, direction, remote and the tries' generation, with the
    // class in the lowest bit: see the programs' place_of.
    __u64 place;
    struct traffic_value value; // nothing held when value.packets is 0
};

struct pending_counters {
    __u64 busy;
    struct shared_packet last_shared; // in the same line as busy: read by every packet
    struct pending_way ways[TRAFFIC_PENDING_WAYS];
    struct traffic_key keys[TRAFFIC_PENDING_WAYS]; // read when a way changes hands
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
