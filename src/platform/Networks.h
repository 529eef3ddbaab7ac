#pragma once

#include <string>
#include <string_view>

namespace quantiro::platform {

// What a network is reached over. Stored in the records by its word (`KindWord`),
// so the order here is free to change.
enum class NetworkKind { Unknown, Ethernet, WiFi, Mobile, Bluetooth, Vpn, PointToPoint };

// One network the traffic went through, as the user knows it: the home Wi-Fi, the
// office's Ethernet, a phone's hotspot. Many networks share one interface (every
// Wi-Fi is wlan0), so the interface's name is no identity.
//
// `id` is the lasting identity, led by how it was found: "nm:<uuid>" for a
// NetworkManager connection (its object path changes with each activation, its UUID
// never), "wifi:<ssid>" for a Wi-Fi link seen without it, "gw:<mac>" for an
// Ethernet-like link by its default gateway's address, "if:<name>" for a
// point-to-point link. `otherId` keeps the "wifi:" or "gw:" identity seen beside an
// "nm:" one, so a network seen with and without NetworkManager is one network.
struct Network {
    std::string id; // empty: no network known (yet)
    std::string otherId;
    std::string name; // what the user calls it; an SSID's odd bytes already escaped
    NetworkKind kind = NetworkKind::Unknown;
    bool metered = false; // the user, or the network itself, said it is billed by use

    bool Known() const { return !id.empty(); }
    bool operator==(const Network&) const = default;
};

// The kind as stored in `sieci.Rodzaj`.
constexpr std::string_view KindWord(NetworkKind kind) {
    switch (kind) {
    case NetworkKind::Ethernet:
        return "ethernet";
    case NetworkKind::WiFi:
        return "wifi";
    case NetworkKind::Mobile:
        return "mobile";
    case NetworkKind::Bluetooth:
        return "bluetooth";
    case NetworkKind::Vpn:
        return "vpn";
    case NetworkKind::PointToPoint:
        return "ppp";
    case NetworkKind::Unknown:
        break;
    }
    return "";
}

constexpr NetworkKind KindOfWord(std::string_view word) {
    for (const NetworkKind kind :
         {NetworkKind::Ethernet, NetworkKind::WiFi, NetworkKind::Mobile, NetworkKind::Bluetooth,
          NetworkKind::Vpn, NetworkKind::PointToPoint}) {
        if (KindWord(kind) == word) {
            return kind;
        }
    }
    return NetworkKind::Unknown;
}

// Which network the followed interface is on, as the system announces it; followed
// from its announcements, never polled, so asking costs the tick nothing.
class NetworkWatch {
public:
    virtual ~NetworkWatch() = default;
    // The interface the meter follows now; its network is found again.
    virtual void Follow(const std::string& interfaceName) = 0;
    // The network the interface is on now; not `Known()` while none is found.
    // Between two networks (a switch takes NetworkManager some 25 ms) it stays the
    // one leaving until the one arriving is known, so every tick has a network.
    virtual const Network& Current() const = 0;

    // Where the announcements arrive: the loop waits on it with the others and calls
    // ChangesReadable() when it is readable; -1 when there is nothing to wait on.
    virtual int ChangesDescriptorForLoop() { return -1; }
    virtual void ChangesReadable() {}
};

} // namespace quantiro::platform
