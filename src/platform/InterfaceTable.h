#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::platform {

// One network interface as the operating system reports it.
struct InterfaceRow {
    std::string name;        // the kernel's name
    std::string description; // the name, with the driver in parentheses when known
    std::int32_t index = 0;
    std::int32_t type = 0; // MIB-II interface type code
    std::int32_t mtu = 0;
    std::int32_t speed = 0; // bits per second; 0 when unknown
    std::array<std::uint8_t, 8> address{};
    std::uint8_t addressLength = 0;
    std::int32_t adminStatus = 0; // 1 up, 2 down
    std::int32_t operStatus = 0;  // 5 operational, 2 not
    // The kernel's 64-bit counters, untouched: the meter's arithmetic takes their
    // low 32 bits itself.
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t receiveErrors = 0;
    std::int32_t outputQueueLength = 0;
};

// What the link adds to each IP packet in its counters: the Ethernet header on
// Ethernet and Wi-Fi (MIB-II types 6 and 71), nothing on raw-IP links. The counting
// service counts IP packets, so their link's figures add this per packet.
inline std::uint32_t LinkHeaderBytes(const InterfaceRow& row) {
    constexpr std::int32_t kEthernet = 6;
    constexpr std::int32_t kWireless = 71;
    return row.type == kEthernet || row.type == kWireless ? 14 : 0;
}

// How a link's counters count a large packet the stack hands over as one (GSO, or
// merged on arrival by GRO): once, whole, or as the segments the wire carries.
enum class SegmentCounting : std::uint8_t { Unknown, Whole, Segments };

// The way each direction of one link counts large packets.
struct LinkCounting {
    SegmentCounting received = SegmentCounting::Unknown;
    SegmentCounting sent = SegmentCounting::Unknown;
};

// The operating system's table of network interfaces, in the order the meter
// monitors them: the monitored interface first.
class InterfaceTable {
public:
    enum class Status { Ok, Failed, NotSupported };

    virtual ~InterfaceTable() = default;
    // Replaces `rows` with a fresh snapshot. On failure `rows` is left empty.
    virtual Status Read(std::vector<InterfaceRow>& rows) = 0;

    // Whether the table has rows now, as cheaply as the platform can tell: a look
    // before the snapshot that is then read. By default a snapshot is taken.
    virtual Status Look(bool& hasRows) {
        std::vector<InterfaceRow> rows;
        const Status status = Read(rows);
        hasRows = !rows.empty();
        return status;
    }
    // The interface the user chose ("Interfejs"; empty: none), told once before the
    // first read; the environment's choice (QUANTIRO_INTERFACE) goes before it.
    virtual void PreferInterface(const std::string& /*interfaceName*/) {}

    // How the named link counts large packets, from its driver and offloads; asked
    // when the measured link changes. By default nobody knows.
    virtual LinkCounting CountingOf(const std::string& /*interfaceName*/) { return {}; }
    // For a front-end with an event loop: a descriptor that becomes readable when the
    // kernel announces a change of the table (-1: none, and each read looks itself).
    // From then on reads leave the announcements to the loop, which calls
    // ChangesReadable() when it is readable, so a quiet read asks nothing of them.
    virtual int ChangesDescriptorForLoop() { return -1; }
    virtual void ChangesReadable() {}
};

} // namespace quantiro::platform
