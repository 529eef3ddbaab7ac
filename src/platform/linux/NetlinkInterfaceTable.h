#pragma once

#include "platform/InterfaceTable.h"
#include "platform/linux/NetlinkSocket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quantiro::platform::linux_impl {

// The interface table from rtnetlink. The whole table is dumped (RTM_GETLINK) at the
// first read and again whenever the kernel announces a change of links (or some
// announcements were lost); in between, a read asks only for the first row's
// counters (RTM_GETSTATS), so each read still gives the kernel's current table and
// the monitored interface's current counters. The other rows' counters are those
// of the last dump: nothing reads them from tick to tick.
//
// Row order: the primary interface first, then the others in kernel order, loopback
// last. The primary interface is the one named by QUANTIRO_INTERFACE, else the
// preferred one (the user's setting), when it is present at the first snapshot: then
// it is fixed for the run, and while it is absent (a PPP link being redialled, a USB
// modem unplugged) the table is empty, so the meter pauses instead of silently
// measuring whatever interface moved into the first row. Otherwise it is the one
// carrying the main table's default route (IPv4, else IPv6; the lowest metric),
// chosen again whenever the kernel announces a change of links or routes, so a
// laptop moving from Wi-Fi to a docked cable is followed. Routes of other tables
// and more specific ones (a VPN's two /1 routes) do not count: the physical link
// the provider bills stays measured. Without a default route the table is empty.
class NetlinkInterfaceTable final : public InterfaceTable {
public:
    explicit NetlinkInterfaceTable(std::string sysfsNetRoot = "/sys/class/net");

    Status Read(std::vector<InterfaceRow>& rows) override;
    // With the monitored interface in the table, answered from it without asking the
    // kernel: a link that goes is announced, and the read that follows sees that.
    Status Look(bool& hasRows) override;
    // From the link as the latest dump has it; unknown when it is not there.
    LinkCounting CountingOf(const std::string& interfaceName) override;
    // The notifications' socket: a change read by the loop makes the next read dump.
    int ChangesDescriptorForLoop() override;
    void ChangesReadable() override;

    void PreferInterface(const std::string& interfaceName) override { m_preferred = interfaceName; }

    // The interface measured now (empty when none).
    const std::string& PrimaryInterface() const { return m_primaryName; }

    // One link of the dump: the row as far as rtnetlink fills it, and what the rest
    // of the row is worked out from.
    struct Link {
        InterfaceRow row;
        std::uint16_t deviceType = 0; // ARPHRD_*
        std::uint32_t flags = 0;      // IFF_*
        std::uint32_t carrierChanges = 0;
        std::string parentBus; // the bus of its parent device; empty without one
    };

private:
    // What sysfs tells about a link; read again when its carrier changes or it is old.
    struct SysfsDetails {
        std::string name;
        std::uint32_t carrierChanges = 0;
        std::chrono::nanoseconds readAt{}; // CLOCK_MONOTONIC_COARSE
        bool wireless = false;
        std::int32_t speed = 0;
        std::string description; // "name (driver)", or the name alone
    };

    bool TakeSnapshot();
    // The first row's counters asked anew; false when the table must be dumped.
    bool RefreshFirstRowCounters();
    // At the first snapshot: the named interface, when present, fixed for the run.
    void FixNamedPrimary(const std::vector<Link>& links);
    // The link of the default route, or empty.
    std::string DefaultRouteLinkName(const std::vector<Link>& links);
    std::optional<std::int32_t> DefaultRouteInterface(std::uint8_t family);
    const SysfsDetails& DetailsOf(const Link& link);
    // Adds what sysfs and the flags tell to the link's row.
    void CompleteRow(Link& link);

    // Asking and listening on sockets of their own: a storm of route notifications
    // then drops notifications (which only mean "dump again"), never a reply.
    NetlinkSocket m_requests;
    NetlinkSocket m_notifications;
    std::string m_sysfsNetRoot;
    bool m_snapshotValid = false;
    bool m_loopWatches = false; // the event loop reads the notifications
    int m_statsFailures = 0;    // RTM_GETSTATS refused or lost in a row (a kernel before 4.7)
    int m_readsSinceStatsTried = 0;
    bool m_primaryChosen = false; // the first snapshot has looked for a named one
    bool m_primaryFixed = false;  // named, and fixed for the run
    std::string m_primaryName;
    std::string m_preferred;              // the interface the user chose; empty: none
    std::vector<Link> m_links;            // the latest dump, in kernel order
    std::vector<InterfaceRow> m_lookRows; // a look's snapshot while the table is empty
    std::vector<std::size_t> m_rows;      // positions in m_links, in table order
    std::unordered_map<std::int32_t, SysfsDetails> m_details;
};

} // namespace quantiro::platform::linux_impl
