#include "platform/linux/CollectorReader.h"

#include "common/ApplicationNames.h"
#include "platform/linux/CollectorProtocol.h"
#include "platform/linux/UnixAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <net/if.h>
#include <sys/socket.h>

namespace quantiro::platform::linux_impl {

namespace {

// Questions (one a second, as the meters ask) before an unanswered one drops the
// line.
constexpr int kAsksBeforeDrop = 5;
// An absent service is looked for again after one ask, then two, four ... up to 32:
// one started later is found within about half a minute, and a machine without it
// costs a connect every half minute instead of every few seconds.
constexpr int kFirstLookGap = 1;
constexpr int kLongestLookGap = 32;
// An answer is a few hundred rows at most; more is no service of ours.
constexpr std::size_t kAnswerLimit = 1024 * 1024;

// How the meter records an owner the service names: see common/ApplicationNames.h.
std::optional<std::string> RecordedName(const TrafficOwner& owner) {
    switch (owner.kind) {
    case OwnerKind::App:
        return owner.id + std::string(applications::kDesktopSuffix);
    case OwnerKind::Exe:
    case OwnerKind::Unit:
        return owner.id.empty() ? std::nullopt : std::optional(owner.id);
    case OwnerKind::Others:
        return std::string(applications::kOtherUsers);
    case OwnerKind::Rest:
        return std::string(applications::kRest);
    case OwnerKind::None:
        break;
    }
    return std::nullopt; // nobody: left to the unattributed remainder
}

ApplicationCounters Recorded(const CollectorCounters& counters, const std::string& interfaceName) {
    ApplicationCounters recorded{.interfaceName = interfaceName, .run = counters.runId};
    for (const CollectorRow& row : counters.rows) {
        if (const auto name = RecordedName(row.owner)) {
            recorded.applications.push_back({.application = *name,
                                             .counters = row.counters,
                                             .folded = row.owner.kind == OwnerKind::Rest});
        }
    }
    return recorded;
}

} // namespace

CollectorReader::CollectorReader()
    : CollectorReader([] {
        const char* named = std::getenv("QUANTIRO_COLLECTOR");
        return std::string(named != nullptr && *named != '\0' ? named : kCollectorSocketPath);
    }()) {}

CollectorReader::CollectorReader(std::string socketPath)
    : m_socketPath(std::move(socketPath)) {}

bool CollectorReader::Connect() {
    const std::optional<sockaddr_un> address = UnixAddress(m_socketPath);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // A Unix socket connects at once or not at all; a full backlog is a busy
    // service, tried again later like an absent one.
    if (!address || !fd.Valid() ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        return false;
    }
    // The service keeps each network namespace's interfaces apart by this cookie.
    socklen_t length = sizeof m_netnsCookie;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &m_netnsCookie, &length) != 0) {
        m_netnsCookie = 0;
    }
    m_fd = std::move(fd);
    // A new connection may be a new service, which knows no one's prefixes.
    m_localPending = m_localPending || !m_localNetworks.empty();
    return true;
}

void CollectorReader::SetLocalNetworks(const std::string& prefixes) {
    m_localPending = m_localPending || prefixes != m_localNetworks;
    m_localNetworks = prefixes;
}

void CollectorReader::Drop() {
    m_fd.Reset();
    m_waiting = false;
    m_localAsked = false;
    m_answer.clear();
    LookLater();
}

void CollectorReader::LookLater() {
    m_asksUntilLook = m_lookGap - 1;
    m_lookGap = std::min(2 * m_lookGap, kLongestLookGap);
}

bool CollectorReader::ReadAnswer() {
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t received = ::recv(m_fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0) {
            m_answer.append(buffer, static_cast<std::size_t>(received));
            if (m_answer.size() > kAnswerLimit) {
                Drop();
                return false;
            }
            // The service says nothing unasked, so a whole answer needs no read past it.
            if (AnswerWhole()) {
                return true;
            }
            continue;
        }
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            Drop(); // the service went (a restart): the next poll connects again
        }
        return false;
    }
}

bool CollectorReader::AnswerWhole() const {
    // After the prefixes' one-line answer, when they were told: the counters, or the
    // line that refuses them.
    std::string_view counters = m_answer;
    if (m_localAsked) {
        const std::size_t end = counters.find('\n');
        counters = end == std::string_view::npos ? std::string_view() : counters.substr(end + 1);
    }
    return counters.ends_with("END\n") || (counters.starts_with("ERR") && counters.ends_with('\n'));
}

std::optional<ApplicationCounters> CollectorReader::Poll(const AskedInterface& interface,
                                                         bool ask) {
    std::optional<ApplicationCounters> answer;
    if (m_waiting && m_fd.Valid()) {
        if (ReadAnswer()) {
            if (m_localAsked) {
                // "OK", or a refusal the options program's checks should have
                // prevented, or a full table: the service then keeps what it had.
                const std::size_t end = m_answer.find('\n') + 1;
                m_localRefused = m_answer.compare(0, end, ErrorLine(kPrefixTableFull)) == 0;
                m_answer.erase(0, end);
                m_localAsked = false;
            }
            if (const auto counters = ParseCountersAnswer(m_answer)) {
                answer = Recorded(*counters, m_askedAbout);
            }
            m_answer.clear();
            m_waiting = false;
            m_lookGap = kFirstLookGap; // it answers: should it go, it is looked for soon
        } else if (ask && m_fd.Valid() && ++m_asksWaited >= kAsksBeforeDrop) {
            Drop();
        }
    }
    if (!ask || m_waiting || interface.name.empty()) {
        return answer;
    }
    if (!m_fd.Valid()) {
        if (m_asksUntilLook > 0) {
            --m_asksUntilLook;
            return answer;
        }
        if (!Connect()) {
            LookLater();
            return answer;
        }
    }
    // The table's index costs nothing; a look-up by name opens a socket of its own.
    const unsigned index = interface.index > 0 ? static_cast<unsigned>(interface.index)
                                               : ::if_nametoindex(interface.name.c_str());
    std::string question = CountersRequestLine(m_netnsCookie, index);
    if (m_localPending) {
        question.insert(0, LocalRequestLine(m_localNetworks));
        m_localPending = false;
        m_localAsked = true;
    }
    const ssize_t sent = ::send(m_fd.Get(), question.data(), question.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(question.size())) {
        Drop();
        return answer;
    }
    m_waiting = true;
    m_askedAbout = interface.name;
    m_asksWaited = 0;
    return answer;
}

} // namespace quantiro::platform::linux_impl
