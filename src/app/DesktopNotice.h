#pragma once

#include <cstdint>
#include <string>

namespace quantiro::app {

// Shows a notice through quantiro-notify beside the calling program, replacing the
// notice with the number `replaces`, and returns the desktop's number for the new
// one (0 when it has none). The caller loads no Qt and no D-Bus for it.
std::uint32_t ShowDesktopNotice(const std::string& programDirectory, std::uint32_t replaces,
                                bool critical, const std::string& summary,
                                const std::string& body);

} // namespace quantiro::app
