#pragma once

#include <string_view>

// How an application is named in the "aplikacje" table, and the two rows that are
// no application: the family's readers match these texts, so they never change.
namespace quantiro::applications {

// A desktop application is recorded by its desktop id, "firefox.desktop"; a system
// service by its unit, "apt-daily.service"; a container by its engine and short id,
// "docker 4f1e2d3c4b5a"; any other program by its executable.
inline constexpr std::string_view kDesktopSuffix = ".desktop";
// Every other user's programs, as one row.
inline constexpr std::string_view kOtherUsers = "inni użytkownicy";
// What the link carried beyond what any program was seen to send or receive (traffic
// without a local socket, and what came before the counting service ran).
inline constexpr std::string_view kUnattributed = "nieprzypisane";
// The applications past the largest ones, summed where only a few are named (the
// reports' top ten, the metrics' series); and a user's own programs past the counting
// service's bound for that user.
inline constexpr std::string_view kRest = "pozostałe";
// The traffic of no known network: hours recorded before networks were, and ticks
// while none was found (the reports' row, the metrics' series).
inline constexpr std::string_view kUnknownNetwork = "nieznana sieć";

} // namespace quantiro::applications
