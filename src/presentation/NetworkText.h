#pragma once

#include "common/CalendarDate.h"
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

// "4,02 z 5,00 GB do 12 grudnia": a plan's use in the limit's unit (GB from 1 GB up;
// 1 GB is 1024 MB) and its period's last day.
std::string PlanUseText(double usedKb, double limitKb, const CalendarDate& lastDay,
                        std::string_view separator);

} // namespace quantiro::presentation
