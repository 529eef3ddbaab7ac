#include "platform/linux/LinkNetworkIdentity.h"

#include "platform/linux/NetworkNames.h"

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include <linux/genetlink.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

// The kernel's netlink macros cast the C way, and drop const on the way.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-qual"

namespace quantiro::platform::linux_impl {

namespace {

constexpr std::uint32_t kWatchedGroups =
    RTMGRP_LINK | RTMGRP_NEIGH | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;

// Calls `onAttribute(type, payload, length)` for each attribute in `length` bytes
// from `first`; generic netlink and rtnetlink lay them out alike.
template <typename OnAttribute>
void ForEachAttribute(const void* first, int length, OnAttribute&& onAttribute) {
    for (auto* attr = static_cast<const rtattr*>(first); RTA_OK(attr, length);
         attr = RTA_NEXT(attr, length)) {
        onAttribute(attr->rta_type & NLA_TYPE_MASK, RTA_DATA(attr),
                    static_cast<std::size_t>(RTA_PAYLOAD(attr)));
    }
}

// Each attribute of a generic netlink answer, after its family's header; none when the
// message is too short to hold that header.
template <typename OnAttribute>
void ForEachGenericAttribute(const nlmsghdr& message, OnAttribute&& onAttribute) {
    if (message.nlmsg_len < NLMSG_LENGTH(GENL_HDRLEN)) {
        return;
    }
    ForEachAttribute(static_cast<const char*>(NLMSG_DATA(&message)) + GENL_HDRLEN,
                     static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(GENL_HDRLEN)),
                     std::forward<OnAttribute>(onAttribute));
}

// A generic netlink request: its header, then one attribute.
struct GenericRequest {
    genlmsghdr header{};
    nlattr attribute{};
    std::array<char, 16> value{};

    GenericRequest(std::uint8_t command, std::uint16_t type, const void* data, std::size_t size) {
        header.cmd = command;
        header.version = 1;
        attribute.nla_type = type;
        attribute.nla_len = static_cast<std::uint16_t>(NLA_HDRLEN + size);
        std::memcpy(value.data(), data, size);
    }
    std::size_t Size() const { return sizeof header + NLA_ALIGN(attribute.nla_len); }
};

std::string HardwareAddressText(const unsigned char* bytes, std::size_t length) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0) {
            text.push_back(':');
        }
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0xF]);
    }
    return text;
}

} // namespace

LinkNetworkIdentity::LinkNetworkIdentity()
    : m_notifications(kWatchedGroups)
    , m_generic(0, NETLINK_GENERIC) {}

bool LinkNetworkIdentity::ChangesReadable() {
    bool concerns = false;
    m_notifications.ReadNotifications([&](const nlmsghdr& message) {
        if (message.nlmsg_type == RTM_NEWNEIGH || message.nlmsg_type == RTM_DELNEIGH) {
            concerns = concerns || ConcernsGateway(message);
        } else if (message.nlmsg_type != NLMSG_DONE && message.nlmsg_type != NLMSG_ERROR) {
            concerns = true; // links and routes change seldom, and any may move the gateway
        }
    });
    return m_notifications.TakeChanged() || concerns;
}

bool LinkNetworkIdentity::ConcernsGateway(const nlmsghdr& message) const {
    if (message.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
        return false;
    }
    const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(&message));
    if (neighbour->ndm_ifindex != m_index) {
        return false;
    }
    bool isGateway = m_gateway.empty();
    ForEachAttribute(reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)),
                     static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg))),
                     [&](unsigned type, const void* data, std::size_t length) {
                         if (type == NDA_DST && length == m_gateway.size() &&
                             std::memcmp(data, m_gateway.data(), length) == 0) {
                             isGateway = true;
                         }
                     });
    return isGateway;
}

Network LinkNetworkIdentity::Find(const std::string& interfaceName) {
    Link link;
    m_index = 0;
    m_gateway.clear();
    if (interfaceName.empty() || !FindLink(interfaceName, link)) {
        return {};
    }
    m_index = link.index;
    // No hardware address to reach a gateway by: the link itself is the network
    // (a dialled modem, a tunnel).
    if ((link.flags & IFF_POINTOPOINT) != 0 || link.addressLength == 0 ||
        link.deviceType == ARPHRD_PPP || link.deviceType == ARPHRD_NONE) {
        return {.id = "if:" + SafeNetworkId(interfaceName),
                .name = SafeNetworkName(interfaceName),
                .kind = NetworkKind::PointToPoint};
    }
    if (std::string ssid; FindSsid(link.index, ssid)) {
        return {.id = "wifi:" + SafeNetworkId(ssid),
                .name = SafeNetworkName(ssid),
                .kind = NetworkKind::WiFi};
    }
    if (const std::string gateway = GatewayAddress(link.index); !gateway.empty()) {
        return {.id = "gw:" + gateway, .name = "brama " + gateway, .kind = NetworkKind::Ethernet};
    }
    return {};
}

bool LinkNetworkIdentity::FindLink(const std::string& interfaceName, Link& link) {
    if (interfaceName.size() >= IFNAMSIZ) {
        return false;
    }
    struct {
        ifinfomsg info{};
        rtattr name{};
        std::array<char, IFNAMSIZ> text{};
    } request;
    request.info.ifi_family = AF_UNSPEC;
    request.name.rta_type = IFLA_IFNAME;
    request.name.rta_len = static_cast<unsigned short>(RTA_LENGTH(interfaceName.size() + 1));
    std::memcpy(request.text.data(), interfaceName.c_str(), interfaceName.size() + 1);
    bool found = false;
    m_requests.Request(RTM_GETLINK, &request, sizeof request, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWLINK ||
            message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
            return;
        }
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
        link.index = info->ifi_index;
        link.deviceType = info->ifi_type;
        link.flags = info->ifi_flags;
        ForEachAttribute(IFLA_RTA(info),
                         static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg))),
                         [&](unsigned type, const void*, std::size_t length) {
                             if (type == IFLA_ADDRESS) {
                                 link.addressLength = static_cast<std::uint32_t>(length);
                             }
                         });
        found = true;
    });
    return found;
}

bool LinkNetworkIdentity::FindSsid(std::int32_t index, std::string& ssid) {
    if (!m_generic.Valid()) {
        return false;
    }
    // The family's number is the kernel's to give; asked until it is known, since
    // cfg80211 loads with the first wireless device.
    if (m_nl80211Family == 0) {
        const GenericRequest ask(CTRL_CMD_GETFAMILY, CTRL_ATTR_FAMILY_NAME, NL80211_GENL_NAME,
                                 sizeof NL80211_GENL_NAME);
        m_generic.Request(GENL_ID_CTRL, &ask, ask.Size(), [&](const nlmsghdr& message) {
            ForEachGenericAttribute(message,
                                    [&](unsigned type, const void* data, std::size_t length) {
                                        if (type == CTRL_ATTR_FAMILY_ID && length >= 2) {
                                            std::memcpy(&m_nl80211Family, data, 2);
                                        }
                                    });
        });
        if (m_nl80211Family == 0) {
            return false;
        }
    }
    const auto interfaceIndex = static_cast<std::uint32_t>(index);
    const GenericRequest ask(NL80211_CMD_GET_INTERFACE, NL80211_ATTR_IFINDEX, &interfaceIndex,
                             sizeof interfaceIndex);
    bool found = false;
    m_generic.Request(m_nl80211Family, &ask, ask.Size(), [&](const nlmsghdr& message) {
        ForEachGenericAttribute(message, [&](unsigned type, const void* data, std::size_t length) {
            if (type == NL80211_ATTR_SSID && length > 0) {
                ssid.assign(static_cast<const char*>(data), length);
                found = true;
            }
        });
    });
    return found;
}

std::string LinkNetworkIdentity::GatewayAddress(std::int32_t index) {
    // The main table's default route through this link, IPv4 before IPv6, as the
    // interface table chooses the link.
    for (const std::uint8_t family : {std::uint8_t{AF_INET}, std::uint8_t{AF_INET6}}) {
        std::vector<unsigned char> gateway;
        std::uint32_t bestMetric = UINT32_MAX;
        m_requests.Dump(RTM_GETROUTE, family, [&](const nlmsghdr& message) {
            if (message.nlmsg_type != RTM_NEWROUTE ||
                message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
                return;
            }
            const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
            if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) {
                return;
            }
            std::uint32_t table = route->rtm_table;
            std::uint32_t metric = 0;
            std::int32_t device = 0;
            std::vector<unsigned char> via;
            ForEachAttribute(RTM_RTA(route),
                             static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(rtmsg))),
                             [&](unsigned type, const void* data, std::size_t length) {
                                 if (type == RTA_TABLE && length >= 4) {
                                     std::memcpy(&table, data, 4);
                                 } else if (type == RTA_PRIORITY && length >= 4) {
                                     std::memcpy(&metric, data, 4);
                                 } else if (type == RTA_OIF && length >= 4) {
                                     std::memcpy(&device, data, 4);
                                 } else if (type == RTA_GATEWAY) {
                                     const auto* bytes = static_cast<const unsigned char*>(data);
                                     via.assign(bytes, bytes + length);
                                 }
                             });
            if (table == RT_TABLE_MAIN && device == index && !via.empty() && metric < bestMetric) {
                gateway = std::move(via);
                bestMetric = metric;
            }
        });
        if (gateway.empty()) {
            continue;
        }
        m_gateway = gateway;
        std::string address;
        m_requests.Dump(RTM_GETNEIGH, family, [&](const nlmsghdr& message) {
            if (message.nlmsg_type != RTM_NEWNEIGH ||
                message.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
                return;
            }
            const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(&message));
            // An entry still being resolved, or given up, has no address to trust.
            if (neighbour->ndm_ifindex != index ||
                (neighbour->ndm_state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP)) != 0) {
                return;
            }
            bool isGateway = false;
            std::string hardware;
            ForEachAttribute(reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)),
                             static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg))),
                             [&](unsigned type, const void* data, std::size_t length) {
                                 if (type == NDA_DST) {
                                     isGateway = length == gateway.size() &&
                                                 std::memcmp(data, gateway.data(), length) == 0;
                                 } else if (type == NDA_LLADDR) {
                                     hardware = HardwareAddressText(
                                         static_cast<const unsigned char*>(data), length);
                                 }
                             });
            if (isGateway && !hardware.empty()) {
                address = hardware;
            }
        });
        return address;
    }
    return {};
}

} // namespace quantiro::platform::linux_impl
