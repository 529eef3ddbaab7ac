#include "collector/CollectorClient.h"

#include "platform/linux/UniqueFd.h"
#include "platform/linux/UnixAddress.h"

#include <cerrno>
#include <cstring>

#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

namespace quantiro::platform::linux_impl {

namespace {

// A reader's answer is a few rows; a service that sends more is not ours.
constexpr std::size_t kAnswerLimit = 1024 * 1024;

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd ready{.fd = fd, .events = events};
        const int polled = ::poll(&ready, 1, MillisecondsLeft(deadline));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        return polled > 0;
    }
}

// After a call failed: whether to call again (interrupted, or ready within the time).
bool WorthRetrying(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    return errno == EINTR || (errno == EAGAIN && WaitFor(fd, events, deadline));
}

} // namespace

CollectorClient::CollectorClient(std::string socketPath, std::chrono::milliseconds bound)
    : m_socketPath(std::move(socketPath))
    , m_bound(bound) {}

template <typename Complete>
std::optional<std::string> CollectorClient::Exchange(std::string_view request,
                                                     Complete complete) const {
    const auto deadline = std::chrono::steady_clock::now() + m_bound;
    const std::optional<sockaddr_un> address = platform::linux_impl::UnixAddress(m_socketPath);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!address || !fd.Valid()) {
        return std::nullopt;
    }
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) {
            return std::nullopt;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (!WaitFor(fd.Get(), POLLOUT, deadline) ||
            ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return std::nullopt;
        }
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t written =
            ::send(fd.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
        } else if (written < 0 && WorthRetrying(fd.Get(), POLLOUT, deadline)) {
            continue;
        } else {
            return std::nullopt;
        }
    }
    std::string answer;
    char buffer[8192];
    while (!complete(answer)) {
        const ssize_t received = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (received > 0) {
            answer.append(buffer, static_cast<std::size_t>(received));
            if (answer.size() > kAnswerLimit) {
                return std::nullopt;
            }
        } else if (received < 0 && WorthRetrying(fd.Get(), POLLIN, deadline)) {
            continue;
        } else {
            return std::nullopt; // closed early, failed, or out of time
        }
    }
    return answer;
}

std::optional<CollectorCounters>
CollectorClient::ReadCounters(const std::string& interfaceName) const {
    const unsigned ifindex = ::if_nametoindex(interfaceName.c_str());
    // The namespace is this process's; any socket of it carries the namespace's cookie.
    UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    if (ifindex == 0 || !probe.Valid() ||
        ::getsockopt(probe.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length) != 0) {
        return std::nullopt;
    }
    const auto answer = Exchange(CountersRequestLine(cookie, ifindex), [](const std::string& text) {
        return text.ends_with("\nEND\n") || (text.starts_with("ERR ") && text.ends_with('\n'));
    });
    if (!answer) {
        return std::nullopt;
    }
    return ParseCountersAnswer(*answer);
}

CollectorClient::Answer CollectorClient::SetLocalPrefixes(std::string_view prefixes) const {
    const auto answer = Exchange(LocalRequestLine(prefixes), [](const std::string& text) {
        return text.find('\n') != std::string::npos;
    });
    if (!answer) {
        return {};
    }
    if (*answer == OkLine()) {
        return {.outcome = Outcome::Done};
    }
    if (answer->starts_with("ERR ")) {
        return {.outcome = Outcome::Refused, .reason = answer->substr(4, answer->size() - 5)};
    }
    return {};
}

} // namespace quantiro::platform::linux_impl
