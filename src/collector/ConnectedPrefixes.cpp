#include "collector/ConnectedPrefixes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

// The kernel's rtnetlink macros (NLMSG_DATA, RTA_NEXT, ...) cast the C way, and drop
// const on the way.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-qual"

namespace quantiro::collector {

namespace {

// Links whose far end is one peer, not a network: their traffic is all billed.
constexpr std::array kPointToPointTypes{ARPHRD_NONE,    ARPHRD_PPP,   ARPHRD_TUNNEL,
                                        ARPHRD_TUNNEL6, ARPHRD_SIT,   ARPHRD_IPGRE,
                                        ARPHRD_IP6GRE,  ARPHRD_RAWIP, ARPHRD_LOOPBACK};

std::optional<IpPrefix> PrefixOf(int family, const void* data, std::size_t size, unsigned length) {
    IpPrefix prefix;
    if (family == AF_INET && size >= 4 && length <= 32) {
        prefix.address[10] = 0xff;
        prefix.address[11] = 0xff;
        std::memcpy(&prefix.address[12], data, 4);
        prefix.length = static_cast<std::uint8_t>(96 + length);
    } else if (family == AF_INET6 && size >= 16 && length <= 128) {
        std::memcpy(prefix.address.data(), data, 16);
        prefix.length = static_cast<std::uint8_t>(length);
    } else {
        return std::nullopt;
    }
    for (unsigned bit = prefix.length; bit < 128; ++bit) {
        prefix.address[bit / 8] &= static_cast<std::uint8_t>(~(0x80U >> (bit % 8)));
    }
    return prefix;
}

// The attributes of a message, by type; later ones of a type win.
template <typename Header>
std::map<unsigned short, const rtattr*> Attributes(const nlmsghdr& message) {
    std::map<unsigned short, const rtattr*> attributes;
    const auto* header = static_cast<const Header*>(NLMSG_DATA(&message));
    int left = static_cast<int>(message.nlmsg_len) - static_cast<int>(NLMSG_LENGTH(sizeof *header));
    for (const auto* attribute = reinterpret_cast<const rtattr*>(
             reinterpret_cast<const char*>(header) + NLMSG_ALIGN(sizeof *header));
         RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        attributes[attribute->rta_type] = attribute;
    }
    return attributes;
}

// A link that may have connected prefixes joins `networks`; point-to-point ones do not.
// Every link's MTU goes to `mtus`.
void TakeLink(const nlmsghdr& message, std::set<std::uint32_t>& networks,
              std::map<std::uint32_t, std::uint32_t>& mtus) {
    if (message.nlmsg_type != RTM_NEWLINK) {
        return;
    }
    const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    const auto attributes = Attributes<ifinfomsg>(message);
    if (const auto mtu = attributes.find(IFLA_MTU);
        mtu != attributes.end() && RTA_PAYLOAD(mtu->second) >= sizeof(std::uint32_t)) {
        std::memcpy(&mtus[static_cast<std::uint32_t>(link->ifi_index)], RTA_DATA(mtu->second),
                    sizeof(std::uint32_t));
    }
    const bool pointToPoint = (link->ifi_flags & (IFF_POINTOPOINT | IFF_LOOPBACK)) != 0 ||
                              std::find(kPointToPointTypes.begin(), kPointToPointTypes.end(),
                                        link->ifi_type) != kPointToPointTypes.end();
    if (!pointToPoint) {
        networks.insert(static_cast<std::uint32_t>(link->ifi_index));
    }
}

// An address's broadcast, and its prefix when it sits on one of `networks`.
void TakeAddress(const nlmsghdr& message, const std::set<std::uint32_t>& networks,
                 ConnectedNetworks& state) {
    if (message.nlmsg_type != RTM_NEWADDR) {
        return;
    }
    const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(&message));
    const auto attributes = Attributes<ifaddrmsg>(message);
    if (const auto broadcast = attributes.find(IFA_BROADCAST);
        broadcast != attributes.end() && address->ifa_family == AF_INET) {
        if (auto prefix = PrefixOf(AF_INET, RTA_DATA(broadcast->second),
                                   RTA_PAYLOAD(broadcast->second), 32)) {
            state.broadcasts.insert(*prefix);
        }
    }
    const auto own = attributes.find(IFA_ADDRESS);
    if (own == attributes.end() || address->ifa_prefixlen == 0 ||
        !networks.contains(address->ifa_index)) {
        return;
    }
    // An address makes its prefix connected at once, before its route is seen.
    if (auto prefix = PrefixOf(address->ifa_family, RTA_DATA(own->second), RTA_PAYLOAD(own->second),
                               address->ifa_prefixlen)) {
        state.connected.emplace(address->ifa_index, *prefix);
    }
}

// A route of the main table straight out of one of `networks`, without a gateway.
void TakeRoute(const nlmsghdr& message, const std::set<std::uint32_t>& networks,
               ConnectedNetworks& state) {
    if (message.nlmsg_type != RTM_NEWROUTE) {
        return;
    }
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    const auto attributes = Attributes<rtmsg>(message);
    std::uint32_t table = route->rtm_table;
    if (const auto named = attributes.find(RTA_TABLE); named != attributes.end()) {
        std::memcpy(&table, RTA_DATA(named->second), sizeof table);
    }
    const auto destination = attributes.find(RTA_DST);
    const auto device = attributes.find(RTA_OIF);
    // A default route (no destination, length 0) is the way out, not a neighbour.
    if (table != RT_TABLE_MAIN || route->rtm_type != RTN_UNICAST || route->rtm_dst_len == 0 ||
        destination == attributes.end() || device == attributes.end() ||
        attributes.contains(RTA_GATEWAY) || attributes.contains(RTA_VIA) ||
        attributes.contains(RTA_MULTIPATH)) {
        return;
    }
    std::uint32_t ifindex = 0;
    std::memcpy(&ifindex, RTA_DATA(device->second), sizeof ifindex);
    if (!networks.contains(ifindex)) {
        return;
    }
    if (auto prefix = PrefixOf(route->rtm_family, RTA_DATA(destination->second),
                               RTA_PAYLOAD(destination->second), route->rtm_dst_len)) {
        state.connected.emplace(ifindex, *prefix);
    }
}

} // namespace

ConnectedPrefixes::ConnectedPrefixes()
    : m_notifications(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                      RTMGRP_IPV6_ROUTE) {}

bool ConnectedPrefixes::TakeChanges() {
    // Drained whole, so a storm of route changes costs one reading of the state.
    bool changed = false;
    for (;;) {
        m_notifications.ReadNotifications();
        if (!m_notifications.TakeChanged()) {
            return changed;
        }
        changed = true;
    }
}

std::optional<ConnectedNetworks> ConnectedPrefixes::Read() {
    // Links first: which ones may have connected prefixes at all.
    std::set<std::uint32_t> networks;
    ConnectedNetworks state;
    const bool linksRead = m_requests.Dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr& message) {
        TakeLink(message, networks, state.mtus);
    });
    if (!linksRead) {
        return std::nullopt;
    }

    const bool addressesRead =
        m_requests.Dump(RTM_GETADDR, AF_UNSPEC,
                        [&](const nlmsghdr& message) { TakeAddress(message, networks, state); });
    const bool routesRead = m_requests.Dump(RTM_GETROUTE, AF_UNSPEC, [&](const nlmsghdr& message) {
        TakeRoute(message, networks, state);
    });
    if (!addressesRead || !routesRead) {
        return std::nullopt;
    }
    return state;
}

} // namespace quantiro::collector
