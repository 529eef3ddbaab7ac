#pragma once

#include "platform/linux/CollectorProtocol.h"
#include "platform/linux/NetlinkSocket.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace quantiro::collector {

using platform::linux_impl::IpPrefix;

// What the service's own namespace has directly attached, from rtnetlink: each
// interface's connected prefixes (routes of the main table without a gateway, and
// the prefixes of its addresses) and the IPv4 broadcast addresses. Point-to-point
// links (PPP, tun, WireGuard, raw-IP modems) have none: all their traffic is billed.
// And every interface's MTU, past which a datagram crosses it as fragments.
struct ConnectedNetworks {
    std::set<std::pair<std::uint32_t, IpPrefix>> connected; // ifindex, prefix
    std::set<IpPrefix> broadcasts;
    std::map<std::uint32_t, std::uint32_t> mtus; // by ifindex
    bool operator==(const ConnectedNetworks&) const = default;
};

class ConnectedPrefixes {
public:
    ConnectedPrefixes();

    // Readable when links, addresses or routes changed.
    int Descriptor() const { return m_notifications.Descriptor(); }
    // Reads the notifications waiting; true when something changed (or notifications
    // were lost, which means the same: read everything again).
    bool TakeChanges();

    // The whole state, dumped anew; nullopt when a dump failed.
    std::optional<ConnectedNetworks> Read();

private:
    platform::linux_impl::NetlinkSocket m_notifications;
    platform::linux_impl::NetlinkSocket m_requests;
};

} // namespace quantiro::collector
