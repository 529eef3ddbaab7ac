#include "presentation/NetworkText.h"

namespace quantiro::presentation {

std::string_view KindName(platform::NetworkKind kind) {
    switch (kind) {
    case platform::NetworkKind::Ethernet:
        return "Ethernet";
    case platform::NetworkKind::WiFi:
        return "Wi-Fi";
    case platform::NetworkKind::Mobile:
        return "sieć komórkowa";
    case platform::NetworkKind::Bluetooth:
        return "Bluetooth";
    case platform::NetworkKind::Vpn:
        return "VPN";
    case platform::NetworkKind::PointToPoint:
        return "łącze punkt-punkt";
    case platform::NetworkKind::Unknown:
        break;
    }
    return {};
}

std::string NetworkDescription(const platform::Network& network) {
    if (!network.Known()) {
        return "nieznana sieć";
    }
    std::string details(KindName(network.kind));
    if (network.metered) {
        details += details.empty() ? "taryfowana" : ", taryfowana";
    }
    return details.empty() ? network.name : network.name + " (" + details + ")";
}

} // namespace quantiro::presentation
