#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quantiro::platform::linux_impl {

// Shows a desktop notification through the freedesktop notification service on
// the session bus, replacing the one numbered `replaces` (0: none), with urgency
// critical or normal. Returns the service's number for it, or nothing when there
// is no bus, no service or no D-Bus library. The library is loaded by this call,
// so a program that shows nothing never loads it.
std::optional<std::uint32_t> SendDesktopNotification(std::uint32_t replaces, bool critical,
                                                     const std::string& summary,
                                                     const std::string& body);

} // namespace quantiro::platform::linux_impl
