#pragma once

#include <string_view>

// The family's programs as the meter starts them: a file name in the program
// directory, then the words it passes. Other programs of the family rely on these
// command lines, so they never change.
namespace quantiro::companion_commands {

inline constexpr std::string_view kMonitor = "dlmon.dll";
inline constexpr std::string_view kStatistics = "ZVstat.dll 1";
inline constexpr std::string_view kOptions = "ZVopcje.dll";
inline constexpr std::string_view kReports = "zvraport.dll 1";
inline constexpr std::string_view kUpdater = "ZVupdate.dll";
// Followed by " /<received kB> /<sent kB> /yes" at start-up, "... /no" afterwards.
inline constexpr std::string_view kLimitWatcher = "ZVlimiter.dll";
// The window shapes (see WindowShapes.h) start as their file name and "/START".

// The switch the family starts its members with: it skips the single-instance check.
inline constexpr std::string_view kStartSwitch = "/START";

} // namespace quantiro::companion_commands
