#include "collector/CollectorService.h"

#include "collector/CgroupOwner.h"
#include "collector/ServiceLog.h"
#include "platform/linux/UnixAddress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::collector {

namespace {

using namespace std::chrono_literals;
using platform::linux_impl::BadRequest;
using platform::linux_impl::CountersRequest;
using platform::linux_impl::LocalRequest;
using platform::linux_impl::StatusRequest;
using platform::linux_impl::UniqueFd;

// Connections at once, of one user and of all; the others share all but root's own
// bound, so a storm of other users' connections never shuts root's meter out.
constexpr std::size_t kReadersPerUser = 8;
constexpr std::size_t kReaderLimit = 128;
constexpr std::size_t kOthersReaderLimit = kReaderLimit - kReadersPerUser;
// A reader that has nothing asked, and sends or takes nothing, for this long is dropped.
constexpr auto kIdleLimit = 10s;
// Connections taken each time round the loop, so a storm of them cannot hold the
// readers' turns; the rest wait in the backlog for the next time.
constexpr int kAcceptsPerRound = 32;
// How often removed cgroups' counters are taken off the map and their owners folded:
// often enough that a storm of scopes does not fill the map, while a pass reads the
// whole map no more often than a meter's question does.
constexpr auto kFoldInterval = 2s;

// Descriptors told apart in the epoll data: readers have their own fd numbers.
constexpr std::uint64_t kListenerTag = 1ULL << 32;
constexpr std::uint64_t kNewCgroupsTag = 2ULL << 32;
constexpr std::uint64_t kRoutesTag = 3ULL << 32;
constexpr std::uint64_t kStopTag = 4ULL << 32;

// Local wherever a packet goes: loopback, private and link-local ranges, multicast
// and broadcast. Carrier-grade NAT (100.64.0.0/10) is the provider's and billed.
constexpr std::array kLocalPrefixes{
    "127.0.0.0/8",    "10.0.0.0/8",  "172.16.0.0/12",      "192.168.0.0/16",
    "169.254.0.0/16", "224.0.0.0/4", "255.255.255.255/32", "::1/128",
    "fe80::/10",      "fc00::/7",    "ff00::/8",
};

bool IsLocalEverywhere(const IpPrefix& prefix) {
    return std::any_of(kLocalPrefixes.begin(), kLocalPrefixes.end(),
                       [&](const char* text) { return prefixes::Parse(text) == prefix; });
}

std::uint64_t OwnNetnsCookie() {
    const UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    if (!probe.Valid() ||
        ::getsockopt(probe.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length) != 0) {
        throw std::runtime_error("ciasteczko przestrzeni nazw: " + ErrorText(errno));
    }
    return cookie;
}

// Unique for each start, so a reader sees a restart (counters from zero again).
std::string NewRunId() {
    std::array<unsigned char, 16> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
        throw std::runtime_error("losowanie numeru uruchomienia: " + ErrorText(errno));
    }
    std::string id;
    for (const unsigned char byte : random) {
        constexpr std::string_view kDigits = "0123456789abcdef";
        id += kDigits[byte >> 4];
        id += kDigits[byte & 0xf];
    }
    return id;
}

// Said with every failure to make the socket: who makes its directory, and how to try
// the service elsewhere.
constexpr const char* kSocketAdvice =
    ". Usługę uruchamia systemd (systemctl start quantiro-collector), który zakłada katalog "
    "/run/quantiro; do prób wskaż inne gniazdo opcją --socket ŚCIEŻKA.";

// Whether a service answers at `path`: its socket is live, and never to be taken.
bool Answers(const std::string& path) {
    const std::optional<sockaddr_un> address = platform::linux_impl::UnixAddress(path);
    const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return address && probe.Valid() &&
           (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&*address),
                      sizeof *address) == 0 ||
            errno == EAGAIN); // a full backlog: busy, but there
}

// The lock beside the socket, held while the service lives: of two services started on
// one path at once, the second finds it taken. A socket that answers is not taken
// either, whoever holds it; one that does not is left by a service that died.
UniqueFd Claim(const std::string& path) {
    const std::string lockPath = path + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    const bool locked = lock.Valid() && ::flock(lock.Get(), LOCK_EX | LOCK_NB) == 0;
    const int error = errno;
    if ((!locked && error == EWOULDBLOCK) || Answers(path)) {
        throw std::runtime_error("na gnieździe " + path +
                                 " działa już inna usługa quantiro-collector (jej stan: "
                                 "quantiro-collector --status), więc ta nie zaczyna pracy; drugą "
                                 "można uruchomić na innym gnieździe: --socket ŚCIEŻKA");
    }
    if (!locked) {
        throw std::runtime_error("nie można założyć gniazda " + path + ": blokada " + lockPath +
                                 ": " + ErrorText(error) + kSocketAdvice);
    }
    return lock;
}

UniqueFd Listen(const std::string& path) {
    const std::optional<sockaddr_un> address = platform::linux_impl::UnixAddress(path);
    if (!address) {
        throw std::runtime_error("za długa ścieżka gniazda: " + path + kSocketAdvice);
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ::unlink(path.c_str()); // left by a service that died: Claim found it dead
    if (!fd.Valid() ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
        ::chmod(path.c_str(), 0666) != 0 || ::listen(fd.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("nie można założyć gniazda " + path + ": " + ErrorText(errno) +
                                 kSocketAdvice);
    }
    return fd;
}

// The users' cgroup below the cgroup2 mount ("/user.slice"); empty when it is not
// below it.
std::string UsersCgroupPath(const CollectorSettings& settings) {
    const std::string& root = settings.cgroupRoot;
    const std::string path =
        settings.usersCgroup.empty() ? root + "/user.slice" : settings.usersCgroup;
    if (!path.starts_with(root + "/")) {
        return {};
    }
    return path.substr(root.size());
}

// On cgroup2 a cgroup's id is its directory's inode number, and its level the number
// of directories it is below the root.
UsersCgroup FindUsersCgroup(const std::string& root, const std::string& relative) {
    struct stat directory {};
    if (relative.empty() || ::stat((root + relative).c_str(), &directory) != 0) {
        return {}; // no user slices: each uid is a user of its own
    }
    return {.id = directory.st_ino,
            .level = static_cast<std::uint32_t>(std::count(relative.begin(), relative.end(), '/'))};
}

std::string MegabytesText(std::uint64_t bytes) {
    const std::uint64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " MB";
}

} // namespace

CollectorService::CollectorService(const CollectorSettings& settings, ServiceLog& log)
    : m_log(log)
    , m_socketPath(settings.socketPath)
    , m_claim(Claim(m_socketPath))
    , m_version(settings.version)
    , m_startedAt(std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count())
    , m_runId(NewRunId())
    , m_ownNetnsCookie(OwnNetnsCookie())
    , m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    , m_cgroups(settings.cgroupRoot)
    , m_program(settings.attachCgroup, m_ownNetnsCookie, settings.verboseLoader, settings.tables,
                FindUsersCgroup(settings.cgroupRoot, UsersCgroupPath(settings)))
    , m_book(m_program, m_cgroups)
    , m_usersCgroup(UsersCgroupPath(settings)) {
    // Per-CPU values: the counters' memory grows with the CPUs, and the unit's memory
    // limit has to cover it.
    m_log.Info("mapy BPF zajmują " + MegabytesText(m_program.MemoryBytes()) +
               " pamięci jądra (procesory: " + std::to_string(m_program.Cpus()) +
               ", liczniki: " + std::to_string(settings.tables.counters) +
               ", na użytkownika najwyżej " + std::to_string(settings.tables.entriesPerUser) + ")");
    if (!m_program.KnowsPacketNamespaces()) {
        m_log.Info("jądro nie podaje programom BPF przestrzeni nazw sieci pakietu: ruch gniazd "
                   "starszych od usługi nie trafia do liczników żadnej przestrzeni, a miernik "
                   "pokazuje go jako nieprzypisany");
    }
    if (!m_program.FoldsPendingCounters()) {
        m_log.Info("jądro nie uruchamia programu BPF na wskazanym procesorze (przed 5.10): "
                   "każdy pakiet trafia wprost do mapy liczników, co kosztuje więcej czasu "
                   "procesora");
    }
    if (!m_program.ClaimsAcceptedConnections()) {
        m_log.Info("programy BPF nie śledzą wysyłania i odbierania na gniazdach (jądro bez BTF "
                   "albo bez punktów śledzenia tcp_sendmsg_locked i tcp_rcv_space_adjust, "
                   "a także sock_send_length i sock_recv_length): ruch "
                   "połączeń przyjętych z gniazda nasłuchującego (usługi aktywowanej gniazdem) "
                   "liczy się dla tego, kto utworzył to gniazdo");
    }
    for (const char* text : kLocalPrefixes) {
        if (!m_program.SetLocal(*prefixes::Parse(text), true)) {
            throw std::runtime_error("zapis zakresów lokalnych do mapy BPF: " + ErrorText(errno));
        }
    }
    RefreshConnected();
    m_listener = Listen(m_socketPath);
    if (!m_epoll.Valid()) {
        throw std::runtime_error("epoll: " + ErrorText(errno));
    }
    Watch(m_listener.Get(), kListenerTag);
    Watch(m_program.NewCgroupsDescriptor(), kNewCgroupsTag);
    if (m_connectedSource.Descriptor() >= 0) {
        Watch(m_connectedSource.Descriptor(), kRoutesTag);
    }
}

void CollectorService::Watch(int fd, std::uint64_t tag) {
    ::epoll_event event{.events = EPOLLIN, .data = {.u64 = tag}};
    if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, fd, &event) != 0) {
        throw std::runtime_error("epoll_ctl: " + ErrorText(errno));
    }
}

CollectorService::~CollectorService() {
    ::unlink(m_socketPath.c_str());
}

void CollectorService::Run(int stopDescriptor) {
    Watch(stopDescriptor, kStopTag);
    const TrafficProgram::CgroupHandler noteCgroup =
        [this](std::uint64_t id, std::string_view name, std::span<const std::uint64_t> ancestors) {
            m_cgroups.Learn(id, name, ancestors);
        };
    auto lastFold = std::chrono::steady_clock::now();
    for (;;) {
        std::array<::epoll_event, 32> events{};
        // With questions waiting, the next turn comes as soon as what is ready is read.
        const int ready =
            ::epoll_wait(m_epoll.Get(), events.data(), events.size(), m_turns.empty() ? 1000 : 0);
        if (ready < 0 && errno != EINTR) {
            throw std::runtime_error("epoll_wait: " + ErrorText(errno));
        }
        // New cgroups first: their names are wanted before anything else happens.
        if (const int error = m_program.TakeNewCgroups(noteCgroup); error != 0) {
            m_log.FailedOnce("odczyt nowych grup z bufora BPF", error);
        }
        for (int at = 0; at < ready; ++at) {
            const std::uint64_t tag = events[at].data.u64;
            if (tag == kStopTag) {
                m_log.Summarize(true);
                return;
            }
            if (tag == kListenerTag) {
                Accept();
            } else if (tag == kRoutesTag) {
                if (m_connectedSource.TakeChanges()) {
                    RefreshConnected();
                }
            } else if (tag != kNewCgroupsTag) {
                Serve(static_cast<int>(tag), events[at].events);
            }
        }
        ServeTurn();
        DropIdleReaders();
        m_log.Summarize();
        if (const auto now = std::chrono::steady_clock::now(); now - lastFold > kFoldInterval) {
            m_book.Fold(
                [this](std::uint64_t netnsCookie, std::uint32_t ifindex) {
                    return OldestAnswer(netnsCookie, ifindex);
                },
                now);
            lastFold = now;
        }
    }
}

void CollectorService::Accept() {
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        UniqueFd fd(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd.Valid()) {
            // EAGAIN: all taken; anything else: the next connection tries again.
            if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
                m_log.FailedOnce("przyjęcie połączenia czytnika", errno);
            }
            return;
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
            m_log.FailedOnce("odczyt użytkownika czytnika (SO_PEERCRED)", errno);
            continue;
        }
        // The accepted socket is made in the namespace of the reader's own socket.
        std::uint64_t netnsCookie = 0;
        length = sizeof netnsCookie;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &netnsCookie, &length) != 0) {
            m_log.FailedOnce("odczyt przestrzeni nazw czytnika (SO_NETNS_COOKIE)", errno);
            continue;
        }
        if (const std::optional<std::string> reason = NoRoomFor(credentials.uid)) {
            // The newcomer is told why, if its socket takes the line now, and closed;
            // the readers already served keep their connections.
            const std::string line = platform::linux_impl::ErrorLine(*reason);
            ::send(fd.Get(), line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            m_log.Refused(ServiceLog::Refusal::TooManyReaders,
                          "odmówiono połączenia czytnikowi (uid " +
                              std::to_string(credentials.uid) + "): " + *reason);
            continue;
        }
        const int number = fd.Get();
        ::epoll_event event{.events = EPOLLIN, .data = {.u64 = static_cast<std::uint32_t>(number)}};
        if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, number, &event) != 0) {
            m_log.FailedOnce("epoll_ctl dla nowego czytnika", errno);
            continue;
        }
        m_readers[number] = Reader{.fd = std::move(fd),
                                   .uid = credentials.uid,
                                   .pid = credentials.pid,
                                   .netnsCookie = netnsCookie,
                                   .watched = EPOLLIN,
                                   .lastProgress = std::chrono::steady_clock::now()};
        ++m_readersOfUser[credentials.uid];
    }
}

std::optional<std::string> CollectorService::NoRoomFor(std::uint32_t uid) const {
    const auto held = m_readersOfUser.find(uid);
    if (held != m_readersOfUser.end() && held->second >= kReadersPerUser) {
        return "za dużo połączeń jednego użytkownika (najwyżej " + std::to_string(kReadersPerUser) +
               " naraz)";
    }
    if (uid != 0 && m_readers.size() >= kOthersReaderLimit) {
        return "za dużo czytników naraz (najwyżej " + std::to_string(kReaderLimit) + ", z czego " +
               std::to_string(kReadersPerUser) + " tylko dla roota)";
    }
    return std::nullopt;
}

void CollectorService::Close(int fd) {
    const auto found = m_readers.find(fd);
    if (found == m_readers.end()) {
        return;
    }
    if (--m_readersOfUser[found->second.uid] == 0) {
        m_readersOfUser.erase(found->second.uid);
    }
    // Its number may be the next reader's: no turn of its may be left behind.
    if (found->second.queued) {
        std::erase(m_turns, fd);
    }
    // Closing the descriptor takes it out of the epoll set anyway; this only says so first.
    ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
    m_readers.erase(found);
}

void CollectorService::Serve(int fd, std::uint32_t events) {
    const auto found = m_readers.find(fd);
    if (found == m_readers.end()) {
        return;
    }
    Reader& reader = found->second;
    bool failed = (events & EPOLLERR) != 0;
    if (reader.answer && (events & (EPOLLOUT | EPOLLHUP)) != 0) {
        failed = !SendAnswer(fd, reader) || failed;
    }
    // Its next question is read only once this one is answered and taken: the rest
    // of a pipelining reader's questions wait in its own socket.
    if ((events & (EPOLLIN | EPOLLHUP)) != 0 && !reader.answer && !reader.closing &&
        !reader.finished && !HasQuestion(reader)) {
        failed = !ReceiveInput(fd, reader) || failed;
    }
    if (failed) {
        Close(fd);
        return;
    }
    Settle(fd, reader);
}

void CollectorService::ServeTurn() {
    // Readers queued during this turn (those with a second question) wait for the next,
    // behind everyone who was waiting before them.
    for (std::size_t left = m_turns.size(); left > 0 && !m_turns.empty(); --left) {
        const int fd = m_turns.front();
        m_turns.pop_front();
        Reader& reader = m_readers.at(fd);
        reader.queued = false;
        AnswerOne(reader);
        if (!SendAnswer(fd, reader)) {
            Close(fd);
            continue;
        }
        Settle(fd, reader);
    }
    m_turnAnswers.clear(); // the readers still sending an answer hold it themselves
}

void CollectorService::Settle(int fd, Reader& reader) {
    if (!reader.answer) {
        if (reader.closing) {
            Close(fd);
            return;
        }
        if (HasQuestion(reader)) {
            if (!reader.queued) {
                reader.queued = true;
                m_turns.push_back(fd);
            }
        } else if (reader.input.size() > platform::linux_impl::kCollectorLineLimit) {
            m_log.Refused(ServiceLog::Refusal::LongLine, "za długi wiersz od czytnika (uid " +
                                                             std::to_string(reader.uid) +
                                                             "): rozłączono");
            reader.answer = std::make_shared<const std::string>(
                platform::linux_impl::ErrorLine("za długi wiersz"));
            reader.closing = true;
            if (!SendAnswer(fd, reader)) {
                Close(fd);
                return;
            }
            Settle(fd, reader);
            return;
        } else if (reader.finished) {
            Close(fd); // all it asked is answered
            return;
        }
    }
    // Waiting for its turn or done sending, it is not read: its end of file, or the
    // questions it sent meanwhile, would be reported as readable again and again.
    const std::uint32_t wanted =
        reader.answer ? std::uint32_t{EPOLLOUT}
                      : (reader.queued || reader.finished ? 0U : std::uint32_t{EPOLLIN});
    if (wanted == reader.watched) {
        return;
    }
    ::epoll_event event{.events = wanted, .data = {.u64 = static_cast<std::uint32_t>(fd)}};
    if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, fd, &event) != 0) {
        // Left as it was, a reader could wait for an answer it is never sent.
        m_log.FailedOnce("epoll_ctl dla czytnika", errno);
        Close(fd);
        return;
    }
    reader.watched = wanted;
}

bool CollectorService::ReceiveInput(int fd, Reader& reader) {
    std::array<char, 4096> buffer{};
    while (reader.input.size() <= platform::linux_impl::kCollectorLineLimit &&
           reader.input.find('\n') == std::string::npos) {
        const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (received > 0) {
            reader.input.append(buffer.data(), static_cast<std::size_t>(received));
            reader.lastProgress = std::chrono::steady_clock::now();
        } else if (received == 0) {
            reader.finished = true; // what it sent is still answered
            break;
        } else if (errno != EINTR) {
            return errno == EAGAIN;
        }
    }
    return true;
}

bool CollectorService::LastLineWaits(const Reader& reader) {
    // A reader that ended its sending ended its last line too, as the end of a file
    // does: a request written without its newline is answered all the same.
    return reader.finished && !reader.input.empty() &&
           reader.input.find('\n') == std::string::npos &&
           reader.input.size() <= platform::linux_impl::kCollectorLineLimit;
}

bool CollectorService::HasQuestion(const Reader& reader) {
    return reader.input.find('\n') != std::string::npos || LastLineWaits(reader);
}

void CollectorService::AnswerOne(Reader& reader) {
    const std::size_t end = std::min(reader.input.find('\n'), reader.input.size());
    reader.answer = Answer(std::string_view(reader.input).substr(0, end), reader);
    reader.answerSent = 0;
    reader.input.erase(0, std::min(end + 1, reader.input.size()));
    reader.lastProgress = std::chrono::steady_clock::now();
}

bool CollectorService::SendAnswer(int fd, Reader& reader) {
    while (reader.answer) {
        const std::string& answer = *reader.answer;
        const ssize_t sent = ::send(fd, answer.data() + reader.answerSent,
                                    answer.size() - reader.answerSent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            reader.answerSent += static_cast<std::size_t>(sent);
            reader.lastProgress = std::chrono::steady_clock::now();
            if (reader.answerSent == answer.size()) {
                reader.answer.reset();
            }
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return errno == EAGAIN;
        }
    }
    return true;
}

void CollectorService::DropIdleReaders() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<int> idle;
    for (const auto& [fd, reader] : m_readers) {
        if (reader.queued || now - reader.lastProgress <= kIdleLimit) {
            continue; // a question waiting for its turn is the service's to answer
        }
        if (reader.answer) {
            m_log.Refused(ServiceLog::Refusal::SlowReader,
                          "czytnik (uid " + std::to_string(reader.uid) +
                              ") nie odbiera odpowiedzi: rozłączono");
            idle.push_back(fd);
            continue;
        }
        // A question it sent just now may not have been read yet, the loop having been
        // busy: that reader is not idle.
        int waiting = 0;
        if (reader.watched == std::uint32_t{EPOLLIN} && ::ioctl(fd, FIONREAD, &waiting) == 0 &&
            waiting > 0) {
            continue;
        }
        idle.push_back(fd);
    }
    for (const int fd : idle) {
        Close(fd);
    }
}

std::optional<std::uint64_t> CollectorService::OldestAnswer(std::uint64_t netnsCookie,
                                                            std::uint32_t ifindex) const {
    std::optional<std::uint64_t> oldest;
    for (const auto& [fd, reader] : m_readers) {
        if (reader.asked && reader.asked->netnsCookie == netnsCookie &&
            reader.asked->ifindex == ifindex) {
            oldest = std::min(oldest.value_or(reader.asked->pass), reader.asked->pass);
        }
    }
    return oldest;
}

CollectorService::SharedAnswer CollectorService::Answer(std::string_view line, Reader& reader) {
    using namespace platform::linux_impl;
    const std::uint32_t uid = reader.uid;
    const auto refuse = [&](const std::string& reason) {
        m_log.Refused(ServiceLog::Refusal::Request,
                      "odrzucono pytanie czytnika (uid " + std::to_string(uid) + "): " + reason);
        return std::make_shared<const std::string>(ErrorLine(reason));
    };
    const CollectorRequest request = ParseRequest(line);
    if (const auto* counters = std::get_if<CountersRequest>(&request)) {
        // Another namespace's figures, its "others" too, are its users' traffic.
        if (counters->netnsCookie != reader.netnsCookie && uid != 0) {
            return refuse("przestrzeń nazw sieci " + std::to_string(counters->netnsCookie) +
                          " nie jest przestrzenią czytnika; liczniki innych przestrzeni "
                          "podaje się tylko rootowi");
        }
        SharedAnswer& shared = m_turnAnswers[{counters->netnsCookie, counters->ifindex, uid}];
        if (!shared) {
            std::string answer = RunLine(m_runId);
            for (const CollectorRow& row :
                 m_book.Rows(counters->netnsCookie, counters->ifindex, uid)) {
                answer += RowLine(row);
            }
            shared = std::make_shared<const std::string>(answer + EndLine());
        }
        reader.asked = CountersAsked{.netnsCookie = counters->netnsCookie,
                                     .ifindex = counters->ifindex,
                                     .pass = m_book.Passes()};
        return shared;
    }
    if (const auto* local = std::get_if<LocalRequest>(&request)) {
        return std::make_shared<const std::string>(
            SetUserPrefixes(uid, UserOf(reader), {local->prefixes.begin(), local->prefixes.end()}));
    }
    if (std::holds_alternative<StatusRequest>(request)) {
        return std::make_shared<const std::string>(StatusAnswer(Status()));
    }
    return refuse(std::get<BadRequest>(request).reason);
}

platform::linux_impl::CollectorStatus CollectorService::Status() {
    platform::linux_impl::CollectorStatus status{
        .version = m_version,
        .startedAt = m_startedAt,
        .owners = m_book.OwnerCount(),
        .tables = {{.name = "readers", .used = m_readers.size(), .limit = kReaderLimit}}};
    for (platform::linux_impl::TableFill& fill : m_program.Fills()) {
        status.tables.push_back(std::move(fill));
    }
    return status;
}

std::string CollectorService::UserOf(const Reader& reader) const {
    // "0::/user.slice/user-1000.slice/session-2.scope": the unified hierarchy's line.
    std::ifstream cgroups("/proc/" + std::to_string(reader.pid) + "/cgroup");
    const std::string below = m_usersCgroup + "/";
    for (std::string line; !m_usersCgroup.empty() && std::getline(cgroups, line);) {
        if (!line.starts_with("0::" + below)) {
            continue;
        }
        const std::string_view path = std::string_view(line).substr(3 + below.size());
        return "slice " + std::string(path.substr(0, path.find('/')));
    }
    return "uid " + std::to_string(reader.uid);
}

std::string CollectorService::SetUserPrefixes(std::uint32_t uid, const std::string& user,
                                              const std::set<IpPrefix>& prefixes) {
    std::size_t heldByOthers = 0; // of the user's other uids
    for (const auto& [other, held] : m_userPrefixes) {
        heldByOthers += other != uid && held.user == user ? held.prefixes.size() : 0;
    }
    if (heldByOthers + prefixes.size() > prefixes::kLimit) {
        m_log.Refused(ServiceLog::Refusal::PrefixesFull,
                      "za dużo prefiksów lokalnych użytkownika (uid " + std::to_string(uid) +
                          ", razem z innymi jego uid)");
        return platform::linux_impl::ErrorLine(
            "za dużo prefiksów lokalnych: najwyżej " + std::to_string(prefixes::kLimit) +
            " na użytkownika, razem z prefiksami jego innych uid; dotychczasowe zostają");
    }
    UserPrefixes& current = m_userPrefixes[uid];
    current.user = user;
    // The new ones first: while they go in, the old set still holds.
    std::vector<IpPrefix> added;
    for (const IpPrefix& prefix : prefixes) {
        if (current.prefixes.contains(prefix)) {
            continue;
        }
        if (!m_program.SetUserLocal(uid, prefix, true)) {
            const int error = errno;
            for (const IpPrefix& undone : added) {
                if (!m_program.SetUserLocal(uid, undone, false)) {
                    m_log.FailedOnce("wycofanie prefiksu lokalnego użytkownika z mapy BPF", errno);
                }
            }
            if (current.prefixes.empty()) {
                m_userPrefixes.erase(uid);
            }
            const bool full = error == E2BIG || error == ENOSPC || error == ENOMEM;
            m_log.Refused(ServiceLog::Refusal::PrefixesFull,
                          (full ? "brak miejsca w mapie na prefiksy lokalne użytkownika "
                                : "mapa BPF nie przyjęła prefiksów lokalnych użytkownika ") +
                              std::to_string(uid) + ": " + ErrorText(error));
            return platform::linux_impl::ErrorLine(
                full ? std::string(platform::linux_impl::kPrefixTableFull)
                     : "zapis prefiksów lokalnych nie powiódł się (" + ErrorText(error) +
                           "); dotychczasowe zostają");
        }
        added.push_back(prefix);
    }
    std::set<IpPrefix> kept = prefixes;
    for (const IpPrefix& prefix : current.prefixes) {
        if (!prefixes.contains(prefix) && !m_program.SetUserLocal(uid, prefix, false)) {
            m_log.FailedOnce("usunięcie prefiksu lokalnego użytkownika z mapy BPF", errno);
            kept.insert(prefix); // still in the trie: the next change tries again
        }
    }
    current.prefixes = std::move(kept);
    if (current.prefixes.empty()) {
        m_userPrefixes.erase(uid);
    }
    return platform::linux_impl::OkLine();
}

void CollectorService::RefreshConnected() {
    const auto wanted = m_connectedSource.Read();
    if (!wanted) {
        return; // the next change, or the next lost notification, reads again
    }
    // What could not be taken out is still in the tries: the next refresh tries again.
    ConnectedNetworks stale;
    for (const auto& [ifindex, prefix] : m_connected.connected) {
        if (!wanted->connected.contains({ifindex, prefix}) &&
            !m_program.SetConnected(ifindex, prefix, false)) {
            m_log.FailedOnce("usunięcie sieci podłączonej z mapy BPF", errno);
            stale.connected.emplace(ifindex, prefix);
        }
    }
    for (const IpPrefix& prefix : m_connected.broadcasts) {
        if (!wanted->broadcasts.contains(prefix) && !IsLocalEverywhere(prefix) &&
            !m_program.SetLocal(prefix, false)) {
            m_log.FailedOnce("usunięcie adresu rozgłoszeniowego z mapy BPF", errno);
            stale.broadcasts.insert(prefix);
        }
    }
    for (const auto& [ifindex, prefix] : wanted->connected) {
        if (!m_program.SetConnected(ifindex, prefix, true)) {
            m_log.FailedOnce("zapis sieci podłączonej do mapy BPF", errno);
        }
    }
    for (const IpPrefix& prefix : wanted->broadcasts) {
        if (!m_program.SetLocal(prefix, true)) {
            m_log.FailedOnce("zapis adresu rozgłoszeniowego do mapy BPF", errno);
        }
    }
    for (const auto& [ifindex, mtu] : m_connected.mtus) {
        if (!wanted->mtus.contains(ifindex) && !m_program.SetMtu(ifindex, 0)) {
            m_log.FailedOnce("usunięcie MTU interfejsu z mapy BPF", errno);
        }
    }
    for (const auto& [ifindex, mtu] : wanted->mtus) {
        if (!m_program.SetMtu(ifindex, mtu)) {
            m_log.FailedOnce("zapis MTU interfejsu do mapy BPF", errno);
        }
    }
    m_connected = *wanted;
    m_connected.connected.merge(stale.connected);
    m_connected.broadcasts.merge(stale.broadcasts);
}

} // namespace quantiro::collector
