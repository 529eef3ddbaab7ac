#pragma once

#include "platform/Networks.h"
#include "platform/linux/NetlinkSocket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::platform::linux_impl {

// Which network a link is on, told by the kernel alone, for systems without
// NetworkManager (systemd-networkd, ifupdown, a bare modem) and as the second
// identity beside NetworkManager's: a Wi-Fi link by its SSID (nl80211 over generic
// netlink), an Ethernet-like link by its default gateway's hardware address (the
// neighbour table), a point-to-point link (ppp, wwan, tun: no hardware address) by
// its name. Asked only when the kernel announces a change of links, routes or
// neighbours, never on a tick.
class LinkNetworkIdentity {
public:
    LinkNetworkIdentity();

    // The network `interfaceName` is on now; not `Known()` while it cannot be told
    // (a Wi-Fi link not associated, a gateway whose address is not resolved yet).
    Network Find(const std::string& interfaceName);

    // The notifications' socket (links, routes, neighbours) for the loop; -1 without.
    int ChangesDescriptor() const { return m_notifications.Descriptor(); }
    // Reads what the kernel announced; true when the network may have changed. Of
    // the neighbours, only the gateway's entry counts: a busy LAN's others come and
    // go all day.
    bool ChangesReadable();

private:
    struct Link {
        std::int32_t index = 0;
        std::uint16_t deviceType = 0; // ARPHRD_*
        std::uint32_t flags = 0;      // IFF_*
        std::uint32_t addressLength = 0;
    };
    bool FindLink(const std::string& interfaceName, Link& link);
    // The SSID the link is associated with; false when it is no Wi-Fi link or none.
    bool FindSsid(std::int32_t index, std::string& ssid);
    // The hardware address of the default gateway through the link, as
    // "aa:bb:cc:dd:ee:ff"; empty when there is none or it is not resolved yet.
    std::string GatewayAddress(std::int32_t index);

    // Whether a neighbour notification concerns the followed link's gateway (any
    // neighbour of the link while its gateway is not known).
    bool ConcernsGateway(const nlmsghdr& message) const;

    std::int32_t m_index = 0;             // the link Find looked at last
    std::vector<unsigned char> m_gateway; // its gateway's address; empty: none
    NetlinkSocket m_requests;
    NetlinkSocket m_notifications;
    NetlinkSocket m_generic;
    std::uint16_t m_nl80211Family = 0; // 0: not known (yet)
};

} // namespace quantiro::platform::linux_impl
