#pragma once

#include "platform/linux/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct nlmsghdr;

namespace quantiro::platform::linux_impl {

// One NETLINK_ROUTE socket that either asks the kernel for whole tables (dumps) or
// single objects, or listens to the kernel's change notifications. Never both: a
// burst of notifications (a routing daemon replacing thousands of routes) fills the
// receive buffer, and the kernel then drops whatever comes next, a reply included.
class NetlinkSocket {
public:
    // Opens the socket, a member of the notification `groups` (RTMGRP_*; 0 for a
    // socket that asks); Valid() tells whether rtnetlink is available at all.
    // `protocol` another netlink family than NETLINK_ROUTE (0), such as generic
    // netlink, which asks the same way.
    explicit NetlinkSocket(std::uint32_t groups = 0, int protocol = 0);

    bool Valid() const { return m_fd.Valid(); }
    // For a loop that waits for notifications; -1 without a socket.
    int Descriptor() const { return m_fd.Get(); }

    // Sends one dump request of `type` (RTM_GETLINK, RTM_GETROUTE) for `family` and
    // hands every reply message to `onMessage`. False when the request or the reply
    // failed; messages already handed over stay handed over.
    bool Dump(std::uint16_t type, std::uint8_t family,
              const std::function<void(const nlmsghdr&)>& onMessage);

    // Sends one request of `type` with `payload` after the header and hands its one
    // reply message to `onMessage`. False when the request failed or was refused.
    bool Request(std::uint16_t type, const void* payload, std::size_t size,
                 const std::function<void(const nlmsghdr&)>& onMessage);
    // The same as a dump: every reply message until the dump's end.
    bool DumpRequest(std::uint16_t type, const void* payload, std::size_t size,
                     const std::function<void(const nlmsghdr&)>& onMessage);

    // Reads the notifications waiting, without waiting for more, and at most a
    // bounded number of them: during a storm the caller re-reads anyway.
    void ReadNotifications();
    // The same, handing each notification to `onMessage`; only lost ones (some
    // were dropped) count as a change for TakeChanged.
    void ReadNotifications(const std::function<void(const nlmsghdr&)>& onMessage);

    // Whether a notification arrived (or some were lost) since the last call.
    bool TakeChanged() { return std::exchange(m_changed, false); }

private:
    bool Send(std::uint16_t type, std::uint16_t flags, const void* payload, std::size_t size);
    // Receives until the message that ends the current request: a dump's end, or
    // (`single`) its one reply. False when the kernel has not answered within a
    // bounded time, so a lost reply costs a tick, never the meter.
    bool Receive(bool single, const std::function<void(const nlmsghdr&)>& onMessage);

    bool m_changed = false;
    UniqueFd m_fd;
    std::uint32_t m_sequence = 0;
    std::uint32_t m_portId = 0;
    std::vector<char> m_buffer;
};

} // namespace quantiro::platform::linux_impl
