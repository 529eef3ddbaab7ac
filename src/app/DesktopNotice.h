#pragma once

#include <cstdint>
#include <string>

namespace quantiro::app {

// Shows a desktop notice, replacing the one numbered `replaces`, and returns the
// desktop's number for the new one (0 when it has none). Without a notification
// service quantiro-notify beside the calling program shows it instead. Nothing of
// Qt or D-Bus is loaded before a notice is due.
std::uint32_t ShowDesktopNotice(const std::string& programDirectory, std::uint32_t replaces,
                                bool critical, const std::string& summary, const std::string& body);

} // namespace quantiro::app
