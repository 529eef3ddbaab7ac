#pragma once

#include <cstdint>

namespace quantiro::platform {

// One direction of one owner's traffic as the counting service counts it, the same
// shape on the service's map, on the line to the meter and in the meter's reading:
// bytes of whole IP packets, billed and local apart, the packets and the local ones
// among them, and what a link
// that carries a large packet as segments counts besides (the headers each further
// segment repeats, and the further segments), since links differ in which of the two
// their counters hold.
struct WayCounters {
    std::uint64_t billedBytes = 0;
    std::uint64_t localBytes = 0;
    std::uint64_t packets = 0;
    std::uint64_t localPackets = 0;
    std::uint64_t segmentBytes = 0;
    std::uint64_t segmentPackets = 0;

    WayCounters& operator+=(const WayCounters& other) {
        billedBytes += other.billedBytes;
        localBytes += other.localBytes;
        packets += other.packets;
        localPackets += other.localPackets;
        segmentBytes += other.segmentBytes;
        segmentPackets += other.segmentPackets;
        return *this;
    }
    bool operator==(const WayCounters&) const = default;
};

// Both directions of one owner's traffic.
struct TrafficCounters {
    WayCounters received;
    WayCounters sent;

    TrafficCounters& operator+=(const TrafficCounters& other) {
        received += other.received;
        sent += other.sent;
        return *this;
    }
    bool operator==(const TrafficCounters&) const = default;
};

} // namespace quantiro::platform
