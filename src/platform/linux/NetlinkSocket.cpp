#include "platform/linux/NetlinkSocket.h"

#include <cerrno>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace quantiro::platform::linux_impl {

namespace {
// Large enough that the kernel never truncates a dump message.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;
} // namespace

NetlinkSocket::NetlinkSocket()
    : m_buffer(kReceiveBufferSize) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.Valid()) {
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
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

bool NetlinkSocket::Dump(std::uint16_t type, std::uint8_t family,
                         const std::function<void(const nlmsghdr&)>& onMessage) {
    if (!Valid()) {
        return false;
    }
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++m_sequence;
    request.body.rtgen_family = family;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(m_fd.Get(), &request, sizeof request, 0,
                        reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        return false;
    }

    for (;;) {
        ssize_t received;
        do {
            received = ::recv(m_fd.Get(), m_buffer.data(), m_buffer.size(), 0);
        } while (received < 0 && errno == EINTR);
        if (received <= 0) {
            return false;
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
        }
    }
}

} // namespace quantiro::platform::linux_impl
