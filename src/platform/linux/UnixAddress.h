#pragma once

#include <cstring>
#include <optional>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>

namespace quantiro::platform::linux_impl {

// The address of the Unix socket at `path`, or nothing when the path is too long
// for one (it would be cut short, and name another socket).
inline std::optional<sockaddr_un> UnixAddress(const std::string& path) {
    sockaddr_un address{.sun_family = AF_UNIX};
    if (path.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

} // namespace quantiro::platform::linux_impl
