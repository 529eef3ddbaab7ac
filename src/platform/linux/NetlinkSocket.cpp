#include "platform/linux/NetlinkSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>

// The kernel's rtnetlink macros (NLMSG_DATA, RTA_NEXT, ...) cast the C way, and
// drop const on the way.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-qual"

namespace quantiro::platform::linux_impl {

namespace {
using namespace std::chrono_literals;

// Large enough that the kernel never truncates a dump message.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;

// The kernel answers a request in microseconds, a dump of thousands of routes in
// milliseconds; past this the reply is taken as lost.
constexpr auto kReplyLimit = 500ms;

// Notification buffers read in one call; a storm beyond that is a change anyway.
constexpr int kNotificationReadsPerCall = 64;
} // namespace

static_assert(NETLINK_ROUTE == 0, "the default protocol of NetlinkSocket");

NetlinkSocket::NetlinkSocket(std::uint32_t groups, int protocol)
    : m_buffer(kReceiveBufferSize) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol));
    if (!fd.Valid()) {
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return;
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return;
    }
    m_portId = local.nl_pid;
    m_fd = std::move(fd);
}

bool NetlinkSocket::Send(std::uint16_t type, std::uint16_t flags, const void* payload,
                         std::size_t size) {
    if (!Valid()) {
        return false;
    }
    struct {
        nlmsghdr header;
        char body[64];
    } request{};
    if (size > sizeof request.body) {
        return false;
    }
    request.header.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(size));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    request.header.nlmsg_seq = ++m_sequence;
    std::memcpy(NLMSG_DATA(&request.header), payload, size);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(m_fd.Get(), &request, request.header.nlmsg_len, 0,
                        reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(request.header.nlmsg_len);
}

bool NetlinkSocket::Receive(bool single, const std::function<void(const nlmsghdr&)>& onMessage) {
    const auto deadline = std::chrono::steady_clock::now() + kReplyLimit;
    for (;;) {
        // The kernel answers while the request is being sent, so the reply is mostly
        // there already; the wait is only for what is not.
        const ssize_t received = ::recv(m_fd.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0 && errno == EAGAIN) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{.fd = m_fd.Get(), .events = POLLIN};
            const int polled =
                left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
            if (polled == 0 || (polled < 0 && errno != EINTR)) {
                return false; // the reply is lost; the next request has a new number
            }
            continue;
        }
        if (received <= 0) {
            return false; // ENOBUFS included: the reply may be among what was dropped
        }
        auto remaining = static_cast<unsigned int>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(m_buffer.data());
             NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
            // A reply to an earlier, abandoned request: skip it.
            if (message->nlmsg_seq != m_sequence || message->nlmsg_pid != m_portId) {
                continue;
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                return true;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                return false;
            }
            onMessage(*message);
            if (single) {
                return true;
            }
        }
    }
}

void NetlinkSocket::ReadNotifications() {
    for (int reads = 0; reads < kNotificationReadsPerCall; ++reads) {
        const ssize_t received = ::recv(m_fd.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0 && errno == ENOBUFS) {
            m_changed = true; // some were dropped: whatever they said, read anew
            continue;
        }
        if (received <= 0) {
            return;
        }
        m_changed = true; // only notifications come unasked
    }
}

void NetlinkSocket::ReadNotifications(const std::function<void(const nlmsghdr&)>& onMessage) {
    for (int reads = 0; reads < kNotificationReadsPerCall; ++reads) {
        const ssize_t received = ::recv(m_fd.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0 && errno == ENOBUFS) {
            m_changed = true;
            continue;
        }
        if (received <= 0) {
            return;
        }
        auto remaining = static_cast<unsigned int>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(m_buffer.data());
             NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
            onMessage(*message);
        }
    }
}

bool NetlinkSocket::Dump(std::uint16_t type, std::uint8_t family,
                         const std::function<void(const nlmsghdr&)>& onMessage) {
    const rtgenmsg body{family};
    return Send(type, NLM_F_DUMP, &body, sizeof body) && Receive(false, onMessage);
}

bool NetlinkSocket::Request(std::uint16_t type, const void* payload, std::size_t size,
                            const std::function<void(const nlmsghdr&)>& onMessage) {
    return Send(type, 0, payload, size) && Receive(true, onMessage);
}

bool NetlinkSocket::DumpRequest(std::uint16_t type, const void* payload, std::size_t size,
                                const std::function<void(const nlmsghdr&)>& onMessage) {
    return Send(type, NLM_F_DUMP, payload, size) && Receive(false, onMessage);
}

} // namespace quantiro::platform::linux_impl
