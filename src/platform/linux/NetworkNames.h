#pragma once

#include "platform/Networks.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quantiro::platform::linux_impl {

// An identity's text from bytes anyone may choose (an SSID is up to 32 arbitrary
// bytes): printable ASCII stays, "\" and every other byte become "\xHH", so an id
// never holds a tab, a newline or half a character, and two byte strings never
// share one id.
std::string SafeNetworkId(std::string_view bytes);

// A name to show from such bytes: valid UTF-8 stays as it is (a Polish SSID reads
// as typed), control characters and bytes that are no UTF-8 become "\xHH".
std::string SafeNetworkName(std::string_view bytes);

// The kind of a NetworkManager connection by its `Type` ("802-11-wireless", "gsm").
NetworkKind KindOfConnectionType(std::string_view type);

// NetworkManager's `Metered` of a device: 1 yes and 3 guessed yes are metered; 0
// (unknown) is what a device shows before it has settled.
constexpr bool MeteredValue(std::uint32_t value) {
    return value == 1 || value == 3;
}

} // namespace quantiro::platform::linux_impl
