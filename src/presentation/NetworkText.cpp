#include "presentation/NetworkText.h"

#include "common/DecimalText.h"

#include <algorithm>

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

std::string PlanUseText(double usedKb, double limitKb, const CalendarDate& lastDay,
                        std::string_view separator) {
    static constexpr std::string_view kMonths[] = {
        "stycznia", "lutego",   "marca",    "kwietnia",     "maja",      "czerwca",
        "lipca",    "sierpnia", "września", "października", "listopada", "grudnia"};
    const double unit = limitKb >= 1024.0 * 1024 ? 1024.0 * 1024 : 1024.0;
    const auto amount = [&](double kilobytes) {
        return FixedDecimal(kilobytes / unit, 2, separator);
    };
    return amount(std::max(usedKb, 0.0)) + " z " + amount(limitKb) + (unit > 1024 ? " GB" : " MB") +
           " do " + std::to_string(lastDay.day) + " " +
           std::string(kMonths[(lastDay.month + 11) % 12]);
}

} // namespace quantiro::presentation
