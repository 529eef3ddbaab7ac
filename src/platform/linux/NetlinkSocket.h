#pragma once

#include "platform/linux/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <vector>

struct nlmsghdr;

namespace quantiro::platform::linux_impl {

// One NETLINK_ROUTE socket that asks the kernel for whole tables (dumps).
class NetlinkSocket {
public:
    // Opens the socket; Valid() tells whether rtnetlink is available at all.
    NetlinkSocket();

    bool Valid() const { return m_fd.Valid(); }

    // Sends one dump request of `type` (RTM_GETLINK, RTM_GETROUTE) for `family` and
    // hands every reply message to `onMessage`. False when the request or the reply
    // failed; messages already handed over stay handed over.
    bool Dump(std::uint16_t type, std::uint8_t family,
              const std::function<void(const nlmsghdr&)>& onMessage);

private:
    UniqueFd m_fd;
    std::uint32_t m_sequence = 0;
    std::uint32_t m_portId = 0;
    std::vector<char> m_buffer;
};

} // namespace quantiro::platform::linux_impl
