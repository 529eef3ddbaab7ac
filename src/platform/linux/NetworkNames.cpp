#include "platform/linux/NetworkNames.h"

#include "common/Utf8Text.h"

#include <array>

namespace quantiro::platform::linux_impl {

namespace {

void AppendEscaped(std::string& text, unsigned char byte) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    text += "\\x";
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0xF]);
}

} // namespace

std::string SafeNetworkId(std::string_view bytes) {
    std::string id;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            id.push_back(c);
        } else {
            AppendEscaped(id, byte);
        }
    }
    return id;
}

std::string SafeNetworkName(std::string_view bytes) {
    std::string name;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = Utf8Length(bytes.substr(at));
        // C1 controls (U+0080 to U+009F) move a terminal's cursor as C0 ones do.
        const bool control =
            lead < 0x20 || lead == 0x7F ||
            (lead == 0xC2 && length == 2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0);
        if (length == 0 || control || lead == '\\') {
            AppendEscaped(name, lead);
            ++at;
        } else {
            name.append(bytes.substr(at, length));
            at += length;
        }
    }
    return name;
}

NetworkKind KindOfConnectionType(std::string_view type) {
    struct TypeKind {
        std::string_view type;
        NetworkKind kind;
    };
    static constexpr std::array<TypeKind, 16> kKinds{{
        {"802-3-ethernet", NetworkKind::Ethernet},
        {"veth", NetworkKind::Ethernet},
        {"bond", NetworkKind::Ethernet},
        {"bridge", NetworkKind::Ethernet},
        {"vlan", NetworkKind::Ethernet},
        {"team", NetworkKind::Ethernet},
        {"802-11-wireless", NetworkKind::WiFi},
        {"gsm", NetworkKind::Mobile},
        {"cdma", NetworkKind::Mobile},
        {"bluetooth", NetworkKind::Bluetooth},
        {"vpn", NetworkKind::Vpn},
        {"wireguard", NetworkKind::Vpn},
        {"tun", NetworkKind::Vpn},
        {"pppoe", NetworkKind::PointToPoint},
        {"adsl", NetworkKind::PointToPoint},
        {"infiniband", NetworkKind::Ethernet},
    }};
    for (const TypeKind& entry : kKinds) {
        if (entry.type == type) {
            return entry.kind;
        }
    }
    return NetworkKind::Unknown;
}

} // namespace quantiro::platform::linux_impl
