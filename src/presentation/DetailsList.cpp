#include "presentation/DetailsList.h"

#include "presentation/AmountFormat.h"
#include "presentation/NetworkText.h"

namespace quantiro::presentation {

std::string_view DetailsList::TypeName(std::int32_t code) {
    switch (code) {
    case 1:
        return "Other";
    case 6:
        return "Ethernet";
    case 9:
        return "TokenRing";
    case 15:
        return "FDDI";
    case 23:
        return "PPP";
    case 24:
        return "Loopback";
    case 28:
        return "SLIP";
    default:
        return {};
    }
}

void DetailsList::ShowWaiting() {
    std::string network = std::move(m_values.at(kNetworkRow - 1));
    m_values = {};
    m_values.front() = kWaiting;
    m_values.at(kNetworkRow - 1) = std::move(network);
}

void DetailsList::ShowNetwork(const platform::Network& network, std::string_view planUse) {
    std::string shown = NetworkDescription(network);
    if (!planUse.empty()) {
        shown.append(": ").append(planUse);
    }
    Write(kNetworkRow, std::move(shown));
}

void DetailsList::Write(std::size_t row, std::string value) {
    m_values.at(row - 1) = std::move(value);
}

namespace {

// Upper-case hex bytes joined by "-".
std::string FormatAddress(const platform::InterfaceRow& row) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < row.addressLength && i < row.address.size(); ++i) {
        if (i > 0) {
            text.push_back('-');
        }
        text.push_back(kHexDigits[row.address[i] >> 4]);
        text.push_back(kHexDigits[row.address[i] & 0xF]);
    }
    return text;
}

} // namespace

void DetailsList::Refresh(const platform::InterfaceRow& current,
                          const platform::InterfaceRow& lastSeen) {
    if (current.name != lastSeen.name) {
        Write(1, current.name);
    }
    if (current.index != lastSeen.index) {
        Write(2, std::to_string(current.index));
    }
    if (current.type != lastSeen.type) {
        // A code without a name leaves the cell as it was.
        if (const std::string_view name = TypeName(current.type); !name.empty()) {
            Write(3, std::string(name));
        }
    }
    if (current.speed != lastSeen.speed) {
        Write(4, FormatSpeed(current.speed));
    }
    if (current.addressLength != lastSeen.addressLength || current.address != lastSeen.address) {
        Write(5, FormatAddress(current));
    }
    if (current.receiveErrors != lastSeen.receiveErrors) {
        // Shown as the 32-bit counter the family reads.
        Write(7, std::to_string(static_cast<std::int32_t>(current.receiveErrors)));
    }
    if (current.outputQueueLength != lastSeen.outputQueueLength) {
        Write(9, std::to_string(current.outputQueueLength));
    }
}

} // namespace quantiro::presentation
