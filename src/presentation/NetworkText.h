#pragma once

#include "platform/Networks.h"

#include <string>
#include <string_view>

namespace quantiro::presentation {

// The kind as the user reads it: "Wi-Fi", "sieć komórkowa"; empty when unknown.
std::string_view KindName(platform::NetworkKind kind);

// A network as the details list and the tooltip name it: its name, then its kind
// and whether it is metered, "Telefon (Wi-Fi, taryfowana)"; "nieznana sieć"
// while none is known.
std::string NetworkDescription(const platform::Network& network);

} // namespace quantiro::presentation
