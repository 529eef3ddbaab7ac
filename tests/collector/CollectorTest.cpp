// The counting service as a child process, counting real traffic between two network
// namespaces joined by a veth pair, sent by children placed in cgroup scopes of a
// private subtree, and read through the client the meter uses.
#include "applications/ApplicationTraffic.h"
#include "collector/CgroupDirectory.h"
#include "collector/CgroupOwner.h"
#include "collector/CollectorClient.h"
#include "fakes/TempDir.h"
#include "platform/linux/CollectorProtocol.h"
#include "platform/linux/CollectorReader.h"
#include "platform/linux/UniqueFd.h"
#include "platform/linux/UnixAddress.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <linux/bpf.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace quantiro::platform::linux_impl;
using quantiro::collector::OwnerOf;

// The link header the reader adds for each packet on an Ethernet-like link.
constexpr std::uint64_t kLinkHeader = 14;

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            text.append(buffer.data(), got);
        }
        ::pclose(pipe);
    }
    return text;
}

bool KernelRefusesBpf() {
    bpf_attr attributes{};
    attributes.map_type = BPF_MAP_TYPE_ARRAY;
    attributes.key_size = 4;
    attributes.value_size = 8;
    attributes.max_entries = 1;
    const long fd = ::syscall(SYS_bpf, BPF_MAP_CREATE, &attributes, sizeof attributes);
    if (fd < 0) {
        return true;
    }
    ::close(static_cast<int>(fd));
    return false;
}

std::string CgroupRoot() {
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::stringstream text;
    text << mountinfo.rdbuf();
    return quantiro::collector::CgroupDirectory::FindMount(text.str()).value_or("");
}

// Two namespaces joined by a veth pair, with a FIFO queue on each end: its counters
// count every segment of a GSO packet with its headers, as the wire carries them,
// where veth's own counters count the one large packet.
struct LinkPair {
    std::string a, b; // namespace names; the interfaces are "qa" in a and "qb" in b
    explicit LinkPair(const std::string& name, const std::vector<std::string>& addressesA = {},
                      const std::vector<std::string>& addressesB = {})
        : a(name + "a")
        , b(name + "b") {
        Shell("ip netns add " + a + " && ip netns add " + b);
        Shell("ip -n " + a + " link add qa type veth peer name qb netns " + b);
        Shell("ip -n " + a + " link set qa address 02:00:00:00:00:0a && ip -n " + b +
              " link set qb address 02:00:00:00:00:0b");
        const auto add = [](const std::string& ns, const std::string& device,
                            std::vector<std::string> addresses, const std::string& peer) {
            addresses.push_back("10.200.0." + peer + "/24");
            addresses.push_back("fd00:200::" + peer + "/64");
            for (const std::string& address : addresses) {
                const bool v6 = address.find(':') != std::string::npos;
                Shell("ip -n " + ns + " address add " + address + " dev " + device +
                      (v6 ? " nodad" : ""));
            }
            Shell("ip -n " + ns + " link set " + device + " up && ip -n " + ns +
                  " link set lo up && tc -n " + ns + " qdisc replace dev " + device +
                  " root pfifo limit 10000");
        };
        add(a, "qa", addressesA, "1");
        add(b, "qb", addressesB, "2");
        // No neighbour discovery during a measurement: the peers are known for good.
        for (const auto& [ns, device, peer, mac] :
             {std::tuple{a, "qa", std::string("2"), "02:00:00:00:00:0b"},
              std::tuple{b, "qb", std::string("1"), "02:00:00:00:00:0a"}}) {
            for (const std::string& address : {"10.200.0." + peer, "fd00:200::" + peer}) {
                Shell("ip -n " + ns + " neigh replace " + address + " lladdr " + mac +
                      " nud permanent dev " + device);
            }
        }
        std::this_thread::sleep_for(1500ms); // the link's own announcements pass first
    }
    ~LinkPair() { std::system(("ip netns del " + a + "; ip netns del " + b).c_str()); }

    // Bytes and packets the FIFO of `ns`'s interface passed so far.
    static std::pair<std::uint64_t, std::uint64_t> Queued(const std::string& ns,
                                                          const char* device) {
        const std::string text = Output("tc -n " + ns + " -s qdisc show dev " + device);
        std::smatch match;
        if (!std::regex_search(text, match, std::regex(R"(Sent (\d+) bytes (\d+) pkt)"))) {
            throw std::runtime_error("no queue statistics: " + text);
        }
        return {std::stoull(match[1]), std::stoull(match[2])};
    }
    // Bytes veth itself counted so far, sent and received: a large packet once.
    static std::pair<std::uint64_t, std::uint64_t> Counted(const std::string& ns,
                                                           const char* device) {
        const std::string statistics = std::string("/sys/class/net/") + device + "/statistics/";
        return {std::stoull(Output("ip netns exec " + ns + " cat " + statistics + "tx_bytes")),
                std::stoull(Output("ip netns exec " + ns + " cat " + statistics + "rx_bytes"))};
    }
};

// A scope of the test's cgroup subtree, removed with the object.
class Scope {
public:
    Scope(const std::string& slice, const std::string& name)
        : m_path(slice + "/" + name) {
        ::mkdir(m_path.c_str(), 0755);
    }
    ~Scope() { ::rmdir(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct ChildPlace {
    std::string scope;       // cgroup directory; empty: the test's own
    std::string netns;       // namespace name; empty: the test's own
    uid_t uid = 0;           // dropped to after moving
    std::string name = "qt"; // its executable name (comm)
};

// Runs `body` in a child placed as told, before it opens any socket; its exit status
// is the body's result.
pid_t Spawn(const ChildPlace& place, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    if (!place.scope.empty()) {
        std::ofstream(place.scope + "/cgroup.procs") << ::getpid() << std::flush;
    }
    if (!place.netns.empty()) {
        const int fd = ::open(("/run/netns/" + place.netns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            ::_exit(120);
        }
    }
    if (place.uid != 0 && (::setgid(place.uid) != 0 || ::setuid(place.uid) != 0)) {
        ::_exit(121);
    }
    ::prctl(PR_SET_NAME, place.name.c_str());
    ::_exit(body());
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

sockaddr_storage Address(const std::string& text, std::uint16_t port, socklen_t& length) {
    sockaddr_storage address{};
    if (text.find(':') != std::string::npos) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        ::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr);
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        ::inet_pton(AF_INET, text.c_str(), &v4->sin_addr);
        length = sizeof *v4;
    }
    return address;
}

// Receives whatever comes to the port until killed, so no datagram earns an ICMP error;
// with `serve`, sends each connection that many bytes instead and closes it.
int Sink(int type, std::uint16_t port, std::size_t serve = 0) {
    const int fd = ::socket(AF_INET6, type, 0);
    sockaddr_in6 any{.sin6_family = AF_INET6, .sin6_port = htons(port)};
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        return 1;
    }
    std::array<char, 65536> buffer{};
    if (type == SOCK_DGRAM) {
        for (;;) {
            ::recv(fd, buffer.data(), buffer.size(), 0);
        }
    }
    ::listen(fd, 8);
    for (;;) {
        const int peer = ::accept(fd, nullptr, nullptr);
        for (std::size_t sent = 0; sent < serve;) {
            const ssize_t written =
                ::send(peer, buffer.data(), std::min(buffer.size(), serve - sent), 0);
            sent += written > 0 ? static_cast<std::size_t>(written) : serve;
        }
        while (serve == 0 && ::recv(peer, buffer.data(), buffer.size(), 0) > 0) {
        }
        ::close(peer);
    }
}

pid_t SpawnSink(const std::string& netns, int type, std::uint16_t port, std::size_t serve = 0) {
    return Spawn({.netns = netns, .name = "sink"}, [=] { return Sink(type, port, serve); });
}

int SendDatagrams(const std::string& peer, std::uint16_t port, int count, std::size_t size,
                  std::chrono::microseconds gap = 0us) {
    socklen_t length = 0;
    const sockaddr_storage address = Address(peer, port, length);
    const int fd = ::socket(address.ss_family, SOCK_DGRAM, 0);
    const std::string payload(size, 'u');
    for (int sent = 0; sent < count; ++sent) {
        if (::sendto(fd, payload.data(), size, 0, reinterpret_cast<const sockaddr*>(&address),
                     length) != static_cast<ssize_t>(size)) {
            return 1;
        }
        std::this_thread::sleep_for(gap);
    }
    return 0;
}

// A TCP connection to the peer; -1 when none is made within two seconds.
int ConnectStream(const std::string& peer, std::uint16_t port) {
    socklen_t length = 0;
    const sockaddr_storage address = Address(peer, port, length);
    const int fd = ::socket(address.ss_family, SOCK_STREAM, 0);
    for (int attempt = 0; ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0;
         ++attempt) {
        if (attempt == 100) {
            ::close(fd);
            return -1;
        }
        std::this_thread::sleep_for(20ms); // the sink is still starting
    }
    return fd;
}

int SendStream(const std::string& peer, std::uint16_t port, std::size_t total) {
    const int fd = ConnectStream(peer, port);
    if (fd < 0) {
        return 1;
    }
    const std::string chunk(64 * 1024, 't');
    for (std::size_t sent = 0; sent < total;) {
        const ssize_t written = ::send(fd, chunk.data(), std::min(chunk.size(), total - sent), 0);
        if (written <= 0) {
            return 1;
        }
        sent += static_cast<std::size_t>(written);
    }
    ::shutdown(fd, SHUT_WR);
    // Whatever the peer answers, until its close: the transfer is over on both sides.
    for (char answer[65536]; ::recv(fd, answer, sizeof answer, 0) > 0;) {
    }
    ::close(fd);
    return 0;
}

// Echo requests answered by the peer's kernel, each waited for; the echo id is the
// pid's, as ping's, since a raw socket gets every other pinger's replies too.
int Ping(const std::string& peer, int count, std::size_t size,
         std::chrono::microseconds gap = 0us) {
    socklen_t length = 0;
    const sockaddr_storage address = Address(peer, 0, length);
    const bool v6 = address.ss_family == AF_INET6;
    const int fd =
        ::socket(address.ss_family, SOCK_RAW, v6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
    if (v6) {
        icmp6_filter filter{};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
        ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    timeval limit{.tv_sec = 2};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    // Room for another pinger's replies while this one waits for the CPU.
    const int room = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    std::vector<std::uint8_t> packet(size, 0x5a);
    for (int sequence = 0; sequence < count; ++sequence) {
        auto* header = reinterpret_cast<icmphdr*>(packet.data());
        header->type = v6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
        header->code = 0;
        header->un.echo.id = htons(static_cast<std::uint16_t>(::getpid()));
        header->un.echo.sequence = htons(static_cast<std::uint16_t>(sequence));
        header->checksum = 0;
        if (!v6) { // ICMPv6's checksum is the kernel's
            std::uint32_t sum = 0;
            for (std::size_t at = 0; at + 1 < packet.size(); at += 2) {
                sum += static_cast<std::uint32_t>(packet[at] << 8 | packet[at + 1]);
            }
            while (sum >> 16) {
                sum = (sum & 0xffff) + (sum >> 16);
            }
            header->checksum = htons(static_cast<std::uint16_t>(~sum));
        }
        if (::sendto(fd, packet.data(), packet.size(), 0,
                     reinterpret_cast<const sockaddr*>(&address), length) < 0) {
            return 1;
        }
        for (std::array<std::uint8_t, 2048> reply{};;) {
            const ssize_t got = ::recv(fd, reply.data(), reply.size(), 0);
            if (got <= 0) {
                return 2;
            }
            // IPv4's raw socket hands over the IP header too.
            const std::size_t at = v6 ? 0 : (reply[0] & 0x0fU) * 4;
            if (static_cast<std::size_t>(got) >= at + 8 &&
                reply[at] == (v6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY) &&
                std::memcmp(&reply[at + 4], &header->un.echo.id, 2) == 0) {
                break;
            }
        }
        std::this_thread::sleep_for(gap);
    }
    return 0;
}

class CollectorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (KernelRefusesBpf()) {
            s_skip = "the kernel refuses bpf() here";
            return;
        }
        s_cgroupRoot = CgroupRoot();
        s_dir = std::make_unique<quantiro::testing::TempDir>();
        ::chmod(s_dir->Path().c_str(), 0755); // other users' readers connect too
        s_socket = (s_dir->Path() / "collector.sock").string();
        s_subtree = s_cgroupRoot + "/quantiro-test-" + std::to_string(::getpid());
        ::mkdir(s_subtree.c_str(), 0755);
        ::mkdir((s_subtree + "/app.slice").c_str(), 0755);
        StartService();
    }
    static void TearDownTestSuite() {
        StopService();
        if (!s_subtree.empty()) {
            ::rmdir((s_subtree + "/app.slice").c_str());
            ::rmdir(s_subtree.c_str());
        }
        s_dir.reset();
    }
    void SetUp() override {
        if (!s_skip.empty()) {
            GTEST_SKIP() << s_skip;
        }
        ASSERT_GT(s_service, 0) << "the service did not start";
    }

    // A service in `netns` on `socket`, its standard error into `log` when one is named.
    static pid_t Start(const std::string& socket, const std::string& netns = "",
                       const std::string& log = "", std::vector<std::string> options = {}) {
        const std::string binary = QUANTIRO_COLLECTOR_BINARY;
        options.insert(options.begin(), {binary, "--socket", socket});
        return Spawn({.netns = netns}, [&] {
            const int fd =
                log.empty() ? -1 : ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, STDERR_FILENO);
            }
            std::vector<char*> arguments;
            for (std::string& option : options) {
                arguments.push_back(option.data());
            }
            arguments.push_back(nullptr);
            ::execv(binary.c_str(), arguments.data());
            return 127;
        });
    }
    static bool Answers(const std::string& socket) {
        return CollectorClient(socket, 1s).ReadCounters("lo").has_value();
    }
    // As Start, once the service answers; -1 when it does not.
    static pid_t Launch(const std::string& socket, const std::string& netns = "",
                        const std::string& log = "", const std::vector<std::string>& options = {}) {
        const pid_t service = Start(socket, netns, log, options);
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (Answers(socket)) {
                return service;
            }
            std::this_thread::sleep_for(50ms);
        }
        Stop(service);
        return -1;
    }
    // Sends `text` on a connection of its own, ends its sending, and reads the answer
    // until the service closes (5 s at most).
    static std::string Ask(const std::string& text, const std::string& socket = s_socket) {
        const int fd = Connect(text, socket);
        ::shutdown(fd, SHUT_WR);
        return AnswerOf(fd);
    }
    static int Connect(const std::string& text, const std::string& socket = s_socket) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = *UnixAddress(socket);
        timeval limit{.tv_sec = 5};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("cannot reach the service");
        }
        return fd;
    }
    static std::string AnswerOf(int fd) {
        std::string answer;
        std::array<char, 256> buffer{};
        for (ssize_t got; (got = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
            answer.append(buffer.data(), static_cast<std::size_t>(got));
        }
        ::close(fd);
        return answer;
    }
    static void Stop(pid_t service) {
        if (service > 0) {
            ::kill(service, SIGTERM);
            Wait(service);
        }
    }
    // A service of the test's own in `netns`, as a desktop's runs beside its programs:
    // there it knows the links' MTUs and connected networks.
    struct ServiceInside {
        ServiceInside(const std::string& netns, const std::string& name)
            : socket((s_dir->Path() / (name + ".sock")).string())
            , pid(Launch(socket, netns)) {}
        ~ServiceInside() { Stop(pid); }
        ServiceInside(const ServiceInside&) = delete;
        ServiceInside& operator=(const ServiceInside&) = delete;
        const std::string socket;
        const pid_t pid;
    };
    static void StartService() { s_service = Launch(s_socket); }
    static void StopService() {
        Stop(s_service);
        s_service = -1;
    }

    // What `body` returns in a child placed as told; nullopt when the body returns none.
    static std::optional<std::string>
    InChild(const ChildPlace& place, const std::function<std::optional<std::string>()>& body) {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        const pid_t child = Spawn(place, [&] {
            const std::optional<std::string> text = body();
            return text && ::write(pipe[1], text->data(), text->size()) ==
                               static_cast<ssize_t>(text->size())
                       ? 0
                       : 1;
        });
        ::close(pipe[1]);
        std::string text;
        std::array<char, 4096> buffer{};
        for (ssize_t got; (got = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) {
            text.append(buffer.data(), static_cast<std::size_t>(got));
        }
        ::close(pipe[0]);
        return Wait(child) == 0 ? std::optional(text) : std::nullopt;
    }

    // The counters of `device` as a reader in `netns` running as `uid` gets them.
    static CollectorCounters Read(const std::string& netns, const std::string& device,
                                  uid_t uid = 0, const std::string& socket = s_socket) {
        const auto text =
            InChild({.netns = netns, .uid = uid}, [&]() -> std::optional<std::string> {
                const auto counters = CollectorClient(socket, 5s).ReadCounters(device);
                if (!counters) {
                    return std::nullopt;
                }
                std::string answer = RunLine(counters->runId);
                for (const CollectorRow& row : counters->rows) {
                    answer += RowLine(row);
                }
                return answer + EndLine();
            });
        if (!text) {
            throw std::runtime_error("the reader got no counters");
        }
        return ParseCountersAnswer(*text).value();
    }

    // The question a reader in `netns` asks for the counters of its `device`.
    static std::string CountersLineIn(const std::string& netns, const std::string& device) {
        return InChild({.netns = netns},
                       [&] {
                           const UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
                           std::uint64_t cookie = 0;
                           socklen_t length = sizeof cookie;
                           ::getsockopt(probe.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length);
                           return std::optional(
                               CountersRequestLine(cookie, ::if_nametoindex(device.c_str())));
                       })
            .value();
    }

    static CollectorRow RowOf(const CollectorCounters& counters, OwnerKind kind,
                              const std::string& id) {
        for (const CollectorRow& row : counters.rows) {
            if (row.owner.kind == kind && row.owner.id == id) {
                return row;
            }
        }
        return {};
    }

    static std::string Slice() { return s_subtree + "/app.slice"; }

    static inline std::string s_skip;
    static inline std::string s_cgroupRoot;
    static inline std::unique_ptr<quantiro::testing::TempDir> s_dir;
    static inline std::string s_socket;
    static inline std::string s_subtree;
    static inline pid_t s_service = -1;
};

struct TransferCase {
    const char* name; // the desktop id of the sender's scope
    int protocol;     // IPPROTO_TCP, IPPROTO_UDP, IPPROTO_ICMP
    const char* peer;
};

class CollectorTransferTest : public CollectorTest,
                              public ::testing::WithParamInterface<TransferCase> {};

// What the sender's application was counted for, each way, is what its side of the
// link carried, within 1 %: bytes with the link header added for each packet.
// The service runs in the sender's namespace; the sink's side, in the other, is
// counted as exactly.
TEST_P(CollectorTransferTest, CountsWhatTheLinkCarried) {
    const TransferCase& transfer = GetParam();
    const LinkPair link("qc" + std::to_string(::getpid()) + transfer.name);
    const ServiceInside inside(link.a, transfer.name);
    ASSERT_GT(inside.pid, 0);
    const Scope scope(Slice(), std::string("app-test-") + transfer.name + "-1.scope");
    const pid_t sink =
        transfer.protocol == IPPROTO_ICMP
            ? -1
            : SpawnSink(link.b, transfer.protocol == IPPROTO_TCP ? SOCK_STREAM : SOCK_DGRAM, 5001);
    const auto [sentBefore, sentPacketsBefore] = LinkPair::Queued(link.a, "qa");
    const auto [gotBefore, gotPacketsBefore] = LinkPair::Queued(link.b, "qb");
    const auto [vethSentBefore, vethGotBefore] = LinkPair::Counted(link.a, "qa");
    const std::string peer = transfer.peer;
    std::array<int, 2> ready{};
    std::array<int, 2> hold{};
    ASSERT_EQ(::pipe(ready.data()) | ::pipe(hold.data()), 0);
    const pid_t sender = Spawn({.scope = scope.Path(), .netns = link.a}, [&] {
        int result = 1;
        switch (transfer.protocol) {
        case IPPROTO_TCP:
            result = SendStream(peer, 5001, 8 * 1024 * 1024);
            break;
        case IPPROTO_UDP:
            result = SendDatagrams(peer, 5001, 2000, 1200); // its socket stays open
            break;
        default:
            result = Ping(peer, 300, 1000);
        }
        // Open until the test has read, or gave up.
        pollfd go{.fd = hold[0], .events = POLLIN};
        return ::write(ready[1], &result, 1) == 1 && ::poll(&go, 1, 20'000) == 1 ? result : 1;
    });
    char result = 1;
    ASSERT_EQ(::read(ready[0], &result, 1), 1);
    ASSERT_EQ(result, 0);
    if (sink > 0) {
        ::kill(sink, SIGKILL);
        Wait(sink);
    }
    const auto [sentAfter, sentPacketsAfter] = LinkPair::Queued(link.a, "qa");
    const auto [gotAfter, gotPacketsAfter] = LinkPair::Queued(link.b, "qb");
    const auto [vethSentAfter, vethGotAfter] = LinkPair::Counted(link.a, "qa");

    const CollectorRow row =
        RowOf(Read(link.a, "qa", 0, inside.socket), OwnerKind::App, transfer.name);
    ASSERT_EQ(::write(hold[1], "x", 1), 1);
    ASSERT_EQ(Wait(sender), 0);
    for (const int end : {ready[0], ready[1], hold[0], hold[1]}) {
        ::close(end);
    }
    const double sentBytes = static_cast<double>(sentAfter - sentBefore);
    const double received = static_cast<double>(gotAfter - gotBefore);
    // As a link that carries segments counts: the queues' figures.
    const double countedSent = static_cast<double>(
        row.counters.sent.billedBytes + row.counters.sent.localBytes +
        row.counters.sent.segmentBytes +
        kLinkHeader * (row.counters.sent.packets + row.counters.sent.segmentPackets));
    const double countedReceived = static_cast<double>(
        row.counters.received.billedBytes + row.counters.received.localBytes +
        row.counters.received.segmentBytes +
        kLinkHeader * (row.counters.received.packets + row.counters.received.segmentPackets));
    // As veth counts, a large packet once: the meter's figures of this link.
    const double vethSent = static_cast<double>(vethSentAfter - vethSentBefore);
    const double wholeSent =
        static_cast<double>(row.counters.sent.billedBytes + row.counters.sent.localBytes +
                            kLinkHeader * row.counters.sent.packets);
    const double vethGot = static_cast<double>(vethGotAfter - vethGotBefore);
    const double wholeGot =
        static_cast<double>(row.counters.received.billedBytes + row.counters.received.localBytes +
                            kLinkHeader * row.counters.received.packets);
    EXPECT_NEAR(wholeSent, vethSent, vethSent / 100);
    EXPECT_NEAR(wholeGot, vethGot, std::max(vethGot / 100, 400.0));
    std::cout << transfer.name << ": sent " << countedSent << " of " << sentBytes << " ("
              << 100 * (countedSent - sentBytes) / sentBytes << " %), received " << countedReceived
              << " of " << received << " ("
              << (received > 0 ? 100 * (countedReceived - received) / received : 0.0)
              << " %), whole " << wholeSent << " of veth's " << vethSent << ", packets "
              << row.counters.sent.packets + row.counters.sent.segmentPackets << "/"
              << sentPacketsAfter - sentPacketsBefore << "\n";
    EXPECT_GT(sentBytes, 1e5);
    EXPECT_NEAR(countedSent, sentBytes, sentBytes / 100);
    // The peer's kernel may announce itself meanwhile (IPv6 multicast listener
    // reports): a few packets with no socket, the sender's to nobody.
    EXPECT_NEAR(countedReceived, received, std::max(received / 100, 400.0));
    EXPECT_NEAR(static_cast<double>(row.counters.sent.packets + row.counters.sent.segmentPackets),
                static_cast<double>(sentPacketsAfter - sentPacketsBefore),
                static_cast<double>(sentPacketsAfter - sentPacketsBefore) / 100);
    if (sink > 0) {
        // The receiving end, a connection accepted by the sink, is the sink's; offloaded
        // segments arrive merged and count as they were sent.
        const CollectorRow got =
            RowOf(Read(link.b, "qb", 0, inside.socket), OwnerKind::Exe, "sink");
        EXPECT_EQ(got.counters.received.billedBytes + got.counters.received.localBytes,
                  row.counters.sent.billedBytes + row.counters.sent.localBytes);
        EXPECT_EQ(got.counters.received.packets, row.counters.sent.packets);
    }
}

INSTANTIATE_TEST_SUITE_P(Transfers, CollectorTransferTest,
                         ::testing::Values(TransferCase{"tcpsender", IPPROTO_TCP, "10.200.0.2"},
                                           TransferCase{"tcpsender6", IPPROTO_TCP, "fd00:200::2"},
                                           TransferCase{"udpsender", IPPROTO_UDP, "10.200.0.2"},
                                           TransferCase{"udpsender6", IPPROTO_UDP, "fd00:200::2"},
                                           TransferCase{"pingsender", IPPROTO_ICMP, "10.200.0.2"},
                                           TransferCase{"pingsender6", IPPROTO_ICMP,
                                                        "fd00:200::2"}),
                         [](const auto& param) { return std::string(param.param.name); });

// Datagrams to a group or a broadcast address, sent from `source`'s interface; the
// group's looped-back copies reach the sender's own namespace too.
int SendToAll(const char* source, const char* destination, int count, std::size_t size) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    in_addr from{};
    ::inet_pton(AF_INET, source, &from);
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof from);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
    socklen_t length = 0;
    const sockaddr_storage address = Address(destination, 5353, length);
    const std::string payload(size, 'm');
    for (int sent = 0; sent < count; ++sent) {
        if (::sendto(fd, payload.data(), size, 0, reinterpret_cast<const sockaddr*>(&address),
                     length) != static_cast<ssize_t>(size)) {
            return 1;
        }
    }
    return 0;
}

// A listener of 224.0.0.251:5353 on `address`'s interface, which broadcasts reach too.
int ListenToAll(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in any{.sin_family = AF_INET, .sin_port = htons(5353)};
    ip_mreq group{};
    ::inet_pton(AF_INET, "224.0.0.251", &group.imr_multiaddr);
    ::inet_pton(AF_INET, address, &group.imr_interface);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        return 1;
    }
    for (std::array<char, 2048> buffer{};;) {
        ::recv(fd, buffer.data(), buffer.size(), 0);
    }
}

// Reads every UDP datagram the host gets through a raw socket, as a capture tool does.
int ReadEveryDatagram() {
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    for (std::array<char, 2048> buffer{};;) {
        if (::recv(fd, buffer.data(), buffer.size(), 0) < 0) {
            return 1;
        }
    }
}

// Starts a child as told, in a scope of its own.
using StartChild = std::function<pid_t(ChildPlace, std::function<int()>)>;

struct SharingCase {
    const char* name;
    // Moves the traffic; returns the children to stop once it is counted.
    std::function<std::vector<pid_t>(const LinkPair&, const StartChild&)> traffic;
};

// A packet several sockets receive (raw sockets, a group, a broadcast) is counted once,
// a looped-back group packet never as received, and a fragmented datagram as the link
// carries its fragments: all owners together, each way, are the link within 0.1 %.
TEST_F(CollectorTest, OwnersNeverAddUpToMoreThanTheLink) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "once");
    // The service in the link's namespace, which knows its interfaces' MTUs.
    const std::string socket = (s_dir->Path() / "once.sock").string();
    const pid_t inside = Launch(socket, link.a);
    ASSERT_GT(inside, 0);
    // Two raw sockets pinging at once, for a third of a second, each getting the other's
    // replies too.
    const auto twoPingers = [](const char* peer) {
        return [peer](const LinkPair& pair, const StartChild& run) {
            const pid_t first =
                run({.netns = pair.a}, [peer] { return Ping(peer, 300, 1000, 1ms); });
            const pid_t second =
                run({.netns = pair.a}, [peer] { return Ping(peer, 300, 1000, 1ms); });
            EXPECT_EQ(Wait(first) + Wait(second), 0);
            return std::vector<pid_t>{};
        };
    };
    const SharingCase cases[] = {
        {"two pingers", twoPingers("10.200.0.2")},
        {"two IPv6 pingers", twoPingers("fd00:200::2")},
        {"two group listeners",
         [](const LinkPair& pair, const StartChild& run) {
             std::vector listeners{
                 run({.netns = pair.a}, [] { return ListenToAll("10.200.0.1"); }),
                 run({.netns = pair.a}, [] { return ListenToAll("10.200.0.1"); })};
             std::this_thread::sleep_for(300ms);
             for (const auto& [ns, source] :
                  {std::pair{pair.b, "10.200.0.2"}, std::pair{pair.a, "10.200.0.1"}}) {
                 EXPECT_EQ(Wait(run({.netns = ns},
                                    [source] {
                                        return SendToAll(source, "224.0.0.251", 300, 700) +
                                               SendToAll(source, "10.200.0.255", 300, 700);
                                    })),
                           0);
             }
             std::this_thread::sleep_for(300ms); // the listeners have it all
             return listeners;
         }},
        {"a raw reader beside a datagram sink",
         [](const LinkPair& pair, const StartChild& run) {
             // On one CPU, whose pending counters the sink's datagrams then go to.
             const auto send = [&](const std::string& ns, const char* peer) {
                 EXPECT_EQ(Wait(run({.netns = ns},
                                    [peer] {
                                        cpu_set_t first;
                                        CPU_ZERO(&first);
                                        CPU_SET(0, &first);
                                        ::sched_setaffinity(0, sizeof first, &first);
                                        return SendDatagrams(peer, 5008, 500, 1000, 20us);
                                    })),
                           0);
             };
             std::vector readers{run({.netns = pair.a}, [] { return Sink(SOCK_DGRAM, 5008); }),
                                 SpawnSink(pair.b, SOCK_DGRAM, 5008)};
             std::this_thread::sleep_for(300ms);
             // The sink's own datagrams first, then copies of them the reader got first.
             send(pair.b, "10.200.0.1");
             readers.push_back(run({.netns = pair.a}, [] { return ReadEveryDatagram(); }));
             std::this_thread::sleep_for(300ms);
             send(pair.b, "10.200.0.1");
             send(pair.a, "10.200.0.2");
             std::this_thread::sleep_for(200ms);
             return readers;
         }},
        {"fragmented datagrams",
         [](const LinkPair& pair, const StartChild& run) {
             const std::vector sinks{run({.netns = pair.a}, [] { return Sink(SOCK_DGRAM, 5007); }),
                                     SpawnSink(pair.b, SOCK_DGRAM, 5007)};
             for (const auto& [ns, peer] :
                  {std::pair{pair.a, "10.200.0.2"}, std::pair{pair.a, "fd00:200::2"},
                   std::pair{pair.b, "10.200.0.1"}, std::pair{pair.b, "fd00:200::1"}}) {
                 EXPECT_EQ(
                     Wait(run({.netns = ns},
                              [peer] { return SendDatagrams(peer, 5007, 1000, 8000, 20us); })),
                     0);
             }
             std::this_thread::sleep_for(200ms);
             return sinks;
         }},
    };
    int scopes = 0;
    for (const SharingCase& sharing : cases) {
        // Each child in a scope of its own, so each socket has an owner of its own.
        std::vector<std::unique_ptr<Scope>> owned;
        const StartChild run = [&](ChildPlace place, std::function<int()> body) {
            owned.push_back(std::make_unique<Scope>(
                Slice(), "app-test-sharer" + std::to_string(++scopes) + "-1.scope"));
            place.scope = owned.back()->Path();
            return Spawn(place, body);
        };
        const auto owners = [&] {
            std::pair<std::uint64_t, std::uint64_t> sum; // sent, received, as veth counts
            for (const CollectorRow& row : Read(link.a, "qa", 0, socket).rows) {
                // This case's sockets only: earlier cases' and the kernel's own are left out.
                if (!row.owner.id.starts_with("sharer")) {
                    continue;
                }
                const quantiro::platform::WayCounters& sent = row.counters.sent;
                const quantiro::platform::WayCounters& got = row.counters.received;
                sum.first += sent.billedBytes + sent.localBytes + kLinkHeader * sent.packets;
                sum.second += got.billedBytes + got.localBytes + kLinkHeader * got.packets;
            }
            return sum;
        };
        const auto [ownersSentBefore, ownersGotBefore] = owners();
        const auto [sentBefore, gotBefore] = LinkPair::Counted(link.a, "qa");
        const std::vector<pid_t> left = sharing.traffic(link, run);
        const auto [sentAfter, gotAfter] = LinkPair::Counted(link.a, "qa");
        const auto [ownersSentAfter, ownersGotAfter] = owners();
        for (const pid_t pid : left) {
            ::kill(pid, SIGKILL);
        }
        for (const pid_t pid : left) {
            Wait(pid);
        }
        for (const auto& [way, counted, carried] :
             {std::tuple{"sent", ownersSentAfter - ownersSentBefore, sentAfter - sentBefore},
              std::tuple{"received", ownersGotAfter - ownersGotBefore, gotAfter - gotBefore}}) {
            const double onLink = static_cast<double>(carried);
            std::cout << sharing.name << ", " << way << ": owners " << counted << " of the link's "
                      << carried << " (" << 100 * static_cast<double>(counted) / onLink << " %)\n";
            EXPECT_GT(carried, 100'000U) << sharing.name;
            EXPECT_LE(static_cast<double>(counted), onLink * 1.001) << sharing.name << ", " << way;
            // The kernel's own group reports have no owner.
            EXPECT_GE(static_cast<double>(counted), onLink * 0.999 - 400)
                << sharing.name << ", " << way;
        }
    }
    Stop(inside);
}

// Programs living 10 ms in scopes removed as soon as they end are counted under their
// name, every byte.
TEST_F(CollectorTest, ShortLivedScopesLoseNothing) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "short");
    // In the senders' namespace, as on a desktop.
    const ServiceInside inside(link.a, "short");
    ASSERT_GT(inside.pid, 0);
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5002);
    constexpr int kChildren = 200;
    constexpr int kDatagrams = 5;
    constexpr std::size_t kPayload = 500;
    for (int child = 0; child < kChildren; ++child) {
        const Scope scope(Slice(), "app-test-shortlived-" + std::to_string(child) + ".scope");
        const pid_t pid = Spawn({.scope = scope.Path(), .netns = link.a}, [] {
            return SendDatagrams("10.200.0.2", 5002, kDatagrams, kPayload, 2ms);
        });
        ASSERT_EQ(Wait(pid), 0);
    }
    ::kill(sink, SIGKILL);
    Wait(sink);
    const CollectorRow row =
        RowOf(Read(link.a, "qa", 0, inside.socket), OwnerKind::App, "shortlived");
    EXPECT_EQ(row.counters.sent.packets, std::uint64_t{kChildren * kDatagrams});
    EXPECT_EQ(row.counters.sent.localBytes, kChildren * kDatagrams * (20 + 8 + kPayload));

    // Downloads of 10 kB beside a bulk one, every core busy, each scope removed as soon
    // as its program ended: the service may look only after it is gone.
    std::vector<pid_t> load{SpawnSink(link.a, SOCK_STREAM, 5007),
                            SpawnSink(link.b, SOCK_STREAM, 5008, 10'000),
                            Spawn({.netns = link.b}, [] {
                                return SendStream("10.200.0.1", 5007, std::size_t{1} << 40);
                            })};
    for (unsigned core = 0; core < std::thread::hardware_concurrency(); ++core) {
        load.push_back(Spawn({}, [] {
            for (;;) {
                ::getpid(); // a side effect, so the loop stays
            }
            return 0;
        }));
    }
    for (int child = 0; child < 100; ++child) {
        const Scope scope(Slice(), "app-test-downloader-" + std::to_string(child) + ".scope");
        const pid_t pid = Spawn({.scope = scope.Path(), .netns = link.a, .name = "dl"}, [] {
            const int fd = ConnectStream("10.200.0.2", 5008);
            std::array<char, 4096> buffer{};
            std::size_t got = 0;
            for (ssize_t part; (part = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
                got += static_cast<std::size_t>(part);
            }
            return got == 10'000 ? 0 : 1;
        });
        ASSERT_EQ(Wait(pid), 0);
    }
    for (const pid_t pid : load) {
        ::kill(pid, SIGKILL);
        Wait(pid);
    }
    const CollectorCounters counters = Read(link.a, "qa", 0, inside.socket);
    const auto received = [&](OwnerKind kind, const std::string& id) {
        const quantiro::platform::WayCounters way = RowOf(counters, kind, id).counters.received;
        return static_cast<double>(way.localBytes + way.billedBytes);
    };
    const double named = received(OwnerKind::App, "downloader");
    EXPECT_GE(named + received(OwnerKind::Exe, "dl"), 100 * 10'000);
    EXPECT_GE(named / (named + received(OwnerKind::Exe, "dl")), 0.99);
}

// Outside an application scope the owner is the process's own name, its main
// thread's, whichever of its threads made the socket.
TEST_F(CollectorTest, ASocketMadeByAThreadIsItsProcesss) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "thr");
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5009);
    const Scope scope(s_subtree, "plain.scope");
    const pid_t pid = Spawn({.scope = scope.Path(), .netns = link.a, .name = "mainprog"}, [] {
        int result = 1;
        std::thread([&] {
            ::prctl(PR_SET_NAME, "worker-1");
            result = SendDatagrams("10.200.0.2", 5009, 10, 100);
        }).join();
        return result;
    });
    ASSERT_EQ(Wait(pid), 0);
    ::kill(sink, SIGKILL);
    Wait(sink);
    const CollectorCounters counters = Read(link.a, "qa");
    EXPECT_EQ(RowOf(counters, OwnerKind::Exe, "mainprog").counters.sent.localBytes,
              10 * (20 + 8 + 100));
    EXPECT_EQ(RowOf(counters, OwnerKind::Exe, "worker-1").counters.sent.packets, 0U);
}

// A socket that outlives its scope goes on counting for the removed cgroup while
// readers fold such counters off the map; not one of its datagrams is lost.
TEST_F(CollectorTest, ASocketOutlivingItsScopeLosesNothing) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "orph");
    // In the sender's namespace, as on a desktop.
    const ServiceInside inside(link.a, "orph");
    ASSERT_GT(inside.pid, 0);
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5006);
    const std::string scope = Slice() + "/app-test-orphan-1.scope";
    ::mkdir(scope.c_str(), 0755);
    constexpr int kDatagrams = 100'000;
    const pid_t sender = Spawn({.scope = scope, .netns = link.a}, [&] {
        socklen_t length = 0;
        const sockaddr_storage address = Address("10.200.0.2", 5006, length);
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        std::ofstream(s_cgroupRoot + "/cgroup.procs") << ::getpid() << std::flush;
        if (::rmdir(scope.c_str()) != 0) {
            return 2;
        }
        for (int sent = 0; sent < kDatagrams; ++sent) {
            ::sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&address), length);
        }
        return 0;
    });
    int status = 0;
    while (::waitpid(sender, &status, WNOHANG) == 0) {
        Read(link.a, "qa", 0, inside.socket); // each question folds the removed cgroup's counters
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::kill(sink, SIGKILL);
    Wait(sink);
    std::uint64_t packets = 0;
    for (const CollectorRow& row : Read(link.a, "qa", 0, inside.socket).rows) {
        // The namespace's kernel announces itself too (IPv6 group reports), for nobody.
        packets += row.owner.kind == OwnerKind::None ? 0 : row.counters.sent.packets;
    }
    EXPECT_EQ(packets, std::uint64_t{kDatagrams});
}

// A socket-activated service: the listener made in the service manager's cgroup and
// handed to a process it starts in another, which accepts, as systemd and sshd do.
// A connection counts for the process that holds it, with what came before its first
// read; one closed unread, for the listener's maker. No byte is lost or counted twice.
TEST_F(CollectorTest, AnAcceptedConnectionCountsForWhoHoldsIt) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "act");
    const Scope manager(Slice(), "app-test-socketunit-1.scope");
    const Scope service(Slice(), "app-test-activated-1.scope");
    constexpr std::size_t kMegabyte = 1 << 20;
    constexpr std::size_t kUnread = 64 * 1024;
    const auto [sentBefore, gotBefore] = LinkPair::Counted(link.a, "qa");
    const pid_t starter = Spawn({.scope = manager.Path(), .netns = link.a}, [&] {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in any{.sin_family = AF_INET, .sin_port = htons(5011)};
        ::bind(listener, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        ::listen(listener, 8);
        const pid_t activated = Spawn({.scope = service.Path()}, [&] {
            const int first = ::accept(listener, nullptr, nullptr);
            std::this_thread::sleep_for(300ms); // starting up, while the data waits
            std::array<char, 65536> buffer{};
            std::size_t got = 0;
            for (ssize_t read; (read = ::recv(first, buffer.data(), buffer.size(), 0)) > 0;) {
                got += static_cast<std::size_t>(read);
            }
            for (std::size_t sent = 0; sent < kMegabyte;) {
                sent += static_cast<std::size_t>(
                    std::max<ssize_t>(::send(first, buffer.data(), buffer.size(), 0), 1));
            }
            ::close(first);
            const int second = ::accept(listener, nullptr, nullptr);
            std::this_thread::sleep_for(300ms);
            ::close(second);
            return got == kMegabyte ? 0 : 1;
        });
        return Wait(activated);
    });
    const pid_t client = Spawn({.netns = link.b}, [&] {
        return SendStream("10.200.0.1", 5011, kMegabyte) + SendStream("10.200.0.1", 5011, kUnread);
    });
    ASSERT_EQ(Wait(client), 0);
    ASSERT_EQ(Wait(starter), 0);
    std::this_thread::sleep_for(200ms); // the last closes cross the link
    const auto [sentAfter, gotAfter] = LinkPair::Counted(link.a, "qa");

    const CollectorCounters counters = Read(link.a, "qa");
    const auto bytes = [](const auto& way) {
        return way.billedBytes + way.localBytes;
    };
    const CollectorRow held = RowOf(counters, OwnerKind::App, "activated");
    const CollectorRow maker = RowOf(counters, OwnerKind::App, "socketunit");
    EXPECT_GE(bytes(held.counters.received), kMegabyte);
    EXPECT_GE(bytes(held.counters.sent), kMegabyte);
    // The unread connection's data, beside the handshakes and a reset.
    EXPECT_GE(bytes(maker.counters.received), kUnread);
    EXPECT_LT(bytes(maker.counters.received), kUnread + 8 * 1024);
    EXPECT_LT(bytes(maker.counters.sent), 4 * 1024);
    std::uint64_t sent = 0;
    std::uint64_t got = 0;
    for (const CollectorRow& row : counters.rows) {
        sent += bytes(row.counters.sent) + kLinkHeader * row.counters.sent.packets;
        got += bytes(row.counters.received) + kLinkHeader * row.counters.received.packets;
    }
    // Give or take the peer kernel's own announcements and a straggling acknowledgement.
    EXPECT_NEAR(static_cast<double>(sent), static_cast<double>(sentAfter - sentBefore), 1024);
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(gotAfter - gotBefore), 1024);
}

// Another user sees the traffic of this one only as "others"; its owner and root by name.
TEST_F(CollectorTest, OtherUsersSeeOnlyOthers) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "uid");
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5003);
    const Scope scope(Slice(), "app-test-private-1.scope");
    const pid_t sender = Spawn({.scope = scope.Path(), .netns = link.a, .uid = 1000},
                               [] { return SendDatagrams("10.200.0.2", 5003, 100, 300); });
    ASSERT_EQ(Wait(sender), 0);
    ::kill(sink, SIGKILL);
    Wait(sink);
    const std::uint64_t sent = 100 * (20 + 8 + 300);
    EXPECT_EQ(RowOf(Read(link.a, "qa", 1000), OwnerKind::App, "private").counters.sent.localBytes,
              sent);
    EXPECT_EQ(RowOf(Read(link.a, "qa", 0), OwnerKind::App, "private").counters.sent.localBytes,
              sent);
    const CollectorCounters stranger = Read(link.a, "qa", 65534);
    for (const CollectorRow& row : stranger.rows) {
        EXPECT_TRUE(row.owner.kind == OwnerKind::Others || row.owner.kind == OwnerKind::Unit ||
                    row.owner.kind == OwnerKind::None)
            << KindName(row.owner.kind) << " " << row.owner.id;
    }
    // Only other users' programs are "others": what the namespace's kernel sent (its
    // group reports) is nobody's, for every reader.
    EXPECT_EQ(RowOf(stranger, OwnerKind::Others, "").counters.sent.localBytes, sent);
    // Asked from outside the namespace: refused, unless root asks.
    const std::string question = CountersLineIn(link.a, "qa");
    const auto askFromOutside = [&](uid_t uid) {
        return InChild({.uid = uid}, [&] { return std::optional(Ask(question)); }).value_or("");
    };
    const std::string refused = askFromOutside(65534);
    EXPECT_TRUE(refused.starts_with("ERR ")) << refused;
    const auto seenByRoot = ParseCountersAnswer(askFromOutside(0));
    ASSERT_TRUE(seenByRoot.has_value());
    EXPECT_EQ(RowOf(*seenByRoot, OwnerKind::App, "private").counters.sent.localBytes, sent);
}

// A child placed as told in which `count` programs, named `name`0, `name`1 ... in turn,
// each send a datagram of 100 bytes to each peer (to a closed port: the kernel's
// answers are nobody's).
int SendAs(const ChildPlace& place, const std::string& name, int count,
           const std::vector<std::string>& peers) {
    return Wait(Spawn(place, [&] {
        for (int program = 0; program < count; ++program) {
            ::prctl(PR_SET_NAME, (name + std::to_string(program)).c_str());
            for (const std::string& peer : peers) {
                if (SendDatagrams(peer, 9, 1, 100) != 0) {
                    return 1;
                }
            }
        }
        return 0;
    }));
}

constexpr std::uint64_t kSmallDatagram = 20 + 8 + 100;

// A user past its bound is counted in its own "rest" row, which its subordinate uids
// share; another user's new program is still named, and nothing goes astray.
TEST_F(CollectorTest, AnotherUserFillingTheMapLeavesNewProgramsNamed) {
    const LinkPair space("qb" + std::to_string(::getpid()));
    const Scope users(s_subtree, "users.slice");
    const Scope filler(users.Path(), "user-60001.slice");
    const Scope newcomer(users.Path(), "user-60002.slice");
    const std::string socket = (s_dir->Path() / "bounds.sock").string();
    // Without a bound of 8 a user, the filler's 24 programs would fill the 16 counters.
    const pid_t service = Launch(socket, "", "",
                                 {"--cgroup", s_subtree, "--users-cgroup", users.Path(),
                                  "--entries", "16", "--entries-per-user", "8"});
    ASSERT_GT(service, 0);
    for (const auto& [scope, uid, name, count] :
         {std::tuple{&filler, 60001U, "fill", 24}, std::tuple{&filler, 160001U, "subordinate", 1},
          std::tuple{&newcomer, 60002U, "newcomer", 1}}) {
        ASSERT_EQ(SendAs({.scope = scope->Path(), .netns = space.a, .uid = uid}, name, count,
                         {"127.0.0.1"}),
                  0);
    }
    const auto sent = [&](uid_t reader, OwnerKind kind, const std::string& id = "") {
        return RowOf(Read(space.a, "lo", reader, socket), kind, id).counters.sent.localBytes;
    };
    EXPECT_EQ(sent(60002, OwnerKind::Exe, "newcomer0"), kSmallDatagram);
    EXPECT_EQ(sent(60002, OwnerKind::Others), 25 * kSmallDatagram);
    EXPECT_EQ(sent(60001, OwnerKind::Exe, "fill0"), kSmallDatagram);
    EXPECT_EQ(sent(60001, OwnerKind::Rest), 16 * kSmallDatagram);
    EXPECT_EQ(sent(160001, OwnerKind::Exe, "subordinate0"), 0U);
    EXPECT_EQ(sent(160001, OwnerKind::Rest), kSmallDatagram);
    Stop(service);
}

// A user's prefixes change whole or not at all: an edit a full table cannot take leaves
// the old set local, and a user's uids together hold 64 at most.
TEST_F(CollectorTest, APrefixSetSurvivesAFullTable) {
    const LinkPair space("qp" + std::to_string(::getpid()), {"198.51.100.4/32", "198.51.100.5/32"});
    const Scope users(s_subtree, "users.slice");
    const Scope owner(users.Path(), "user-60011.slice");
    const std::string socket = (s_dir->Path() / "prefixes.sock").string();
    const pid_t service = Launch(
        socket, "", "",
        {"--cgroup", s_subtree, "--users-cgroup", users.Path(), "--user-prefix-entries", "8"});
    ASSERT_GT(service, 0);
    const std::string old = "198.51.100.1/32,198.51.100.2/32,198.51.100.3/32,198.51.100.4/32";
    const std::string edited = "198.51.100.1/32,198.51.100.2/32,198.51.100.5/32,198.51.100.6/32,"
                               "198.51.100.7/32";
    std::string many = "10.1.0.0/24";
    for (int prefix = 1; prefix < 61; ++prefix) {
        many += ",10.1." + std::to_string(prefix) + ".0/24";
    }
    const auto tell = [&](uid_t uid, const std::string& prefixes) {
        return InChild({.scope = owner.Path(), .uid = uid},
                       [&] {
                           const auto done = CollectorClient(socket, 5s).SetLocalPrefixes(prefixes);
                           return std::optional(
                               done.outcome == CollectorClient::Outcome::Done ? "" : done.reason);
                       })
            .value_or("?");
    };
    for (const auto& [uid, prefixes, refusal] :
         std::vector<std::tuple<uid_t, std::string, std::string_view>>{
             {60011, old, ""},
             {60012, "203.0.113.1/32,203.0.113.2/32,203.0.113.3/32,203.0.113.4/32", ""},
             {60011, old, ""},                  // unchanged while the table is full
             {60011, edited, kPrefixTableFull}, // needs room the table has not
             {160011, many, "najwyżej 64"},     // 61 more for the same user
         }) {
        const std::string said = tell(uid, prefixes);
        EXPECT_TRUE(refusal.empty() ? said.empty() : said.find(refusal) != std::string::npos)
            << prefixes << ": " << said;
    }
    const ChildPlace sender{.scope = owner.Path(), .netns = space.a, .uid = 60011};
    const std::vector<std::string> peers{"198.51.100.4", "198.51.100.5"};
    ASSERT_EQ(SendAs(sender, "before", 1, peers), 0); // the old set, after every refusal
    EXPECT_EQ(tell(60012, ""), "");
    EXPECT_EQ(tell(60011, edited), "");
    ASSERT_EQ(SendAs(sender, "after", 1, peers), 0);
    const CollectorCounters counters = Read(space.a, "lo", 0, socket);
    for (const auto& [program, local] :
         {std::pair{"before0", "198.51.100.4"}, std::pair{"after0", "198.51.100.5"}}) {
        const CollectorRow row = RowOf(counters, OwnerKind::Exe, program);
        EXPECT_EQ(row.counters.sent.localBytes, kSmallDatagram) << program << ": only " << local;
        EXPECT_EQ(row.counters.sent.billedBytes, kSmallDatagram) << program;
    }
    Stop(service);
}

// The remote address decides: private ranges are local; documentation addresses and
// carrier-grade NAT are billed, until the user names them local. IPv6 alike.
TEST_F(CollectorTest, ClassifiesByTheRemoteAddress) {
    const LinkPair link(
        "qc" + std::to_string(::getpid()) + "class",
        {"192.168.77.1/24", "198.51.100.1/24", "100.64.0.1/10", "2001:db8:77::1/64"},
        {"192.168.77.2/24", "198.51.100.2/24", "100.64.0.2/10", "2001:db8:77::2/64"});
    for (const std::string peer :
         {"192.168.77.2", "198.51.100.2", "100.64.0.2", "2001:db8:77::2"}) {
        Shell("ip -n " + link.a + " neigh replace " + peer +
              " lladdr 02:00:00:00:00:0b nud permanent dev qa");
    }
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5004);
    const Scope scope(Slice(), "app-test-classifier-1.scope");
    const auto sendToAll = [&] {
        const pid_t sender = Spawn({.scope = scope.Path(), .netns = link.a}, [] {
            for (const char* peer :
                 {"192.168.77.2", "198.51.100.2", "100.64.0.2", "fd00:200::2", "2001:db8:77::2"}) {
                if (SendDatagrams(peer, 5004, 10, 100) != 0) {
                    return 1;
                }
            }
            return 0;
        });
        return Wait(sender);
    };
    constexpr std::uint64_t kToEach = 10 * (20 + 8 + 100);
    constexpr std::uint64_t kToEach6 = 10 * (40 + 8 + 100);
    ASSERT_EQ(sendToAll(), 0);
    CollectorRow row = RowOf(Read(link.a, "qa"), OwnerKind::App, "classifier");
    EXPECT_EQ(row.counters.sent.localBytes, kToEach + kToEach6);
    EXPECT_EQ(row.counters.sent.billedBytes, 2 * kToEach + kToEach6);

    const CollectorClient client(s_socket, 5s);
    const auto refused = client.SetLocalPrefixes("10.0.0.0/8,198.51.100.0/33");
    EXPECT_EQ(refused.outcome, CollectorClient::Outcome::Refused);
    EXPECT_NE(refused.reason.find("nr 2"), std::string::npos) << refused.reason;
    EXPECT_EQ(client.SetLocalPrefixes("198.51.100.0/24,2001:db8:77::/48").outcome,
              CollectorClient::Outcome::Done);
    ASSERT_EQ(sendToAll(), 0);
    EXPECT_EQ(client.SetLocalPrefixes("").outcome, CollectorClient::Outcome::Done);
    row = RowOf(Read(link.a, "qa"), OwnerKind::App, "classifier");
    EXPECT_EQ(row.counters.sent.localBytes, 3 * kToEach + 3 * kToEach6);
    EXPECT_EQ(row.counters.sent.billedBytes, 3 * kToEach + kToEach6);
    ::kill(sink, SIGKILL);
    Wait(sink);
}

// In the service's own namespace the networks connected to an interface are local,
// an address's prefix as soon as it is added; a network behind a gateway is not.
// Elsewhere they mean nothing: a service in another namespace bills them.
TEST_F(CollectorTest, ConnectedNetworksOfItsOwnNamespaceAreLocal) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "own", {"203.0.113.1/24"},
                        {"203.0.113.2/24"});
    Shell("ip -n " + link.a + " neigh replace 203.0.113.2 lladdr 02:00:00:00:00:0b nud " +
          "permanent dev qa && ip -n " + link.a + " route add 192.0.2.0/24 via 203.0.113.2");
    const std::string socket = (s_dir->Path() / "inside.sock").string();
    const pid_t inside = Launch(socket, link.a);
    ASSERT_GT(inside, 0);
    // Added after the service read the links: known from the notification, which is
    // queued before `ip` returns; the second answer comes from a later turn of the
    // service's loop than the one that saw it.
    Shell("ip -n " + link.a + " address add 198.18.0.1/15 dev qa && ip -n " + link.a +
          " neigh replace 198.18.0.2 lladdr 02:00:00:00:00:0b nud permanent dev qa");
    Read(link.a, "qa", 0, socket);
    Read(link.a, "qa", 0, socket);
    const Scope scope(Slice(), "app-test-neighbour-1.scope");
    for (const std::string peer : {"203.0.113.2", "198.18.0.2", "192.0.2.5"}) {
        const pid_t sender = Spawn({.scope = scope.Path(), .netns = link.a},
                                   [&] { return SendDatagrams(peer, 5005, 10, 100); });
        ASSERT_EQ(Wait(sender), 0);
    }
    constexpr std::uint64_t kToEach = 10 * (20 + 8 + 100);
    const CollectorRow seenInside =
        RowOf(Read(link.a, "qa", 0, socket), OwnerKind::App, "neighbour");
    EXPECT_EQ(seenInside.counters.sent.localBytes, 2 * kToEach);
    EXPECT_EQ(seenInside.counters.sent.billedBytes, kToEach);
    const CollectorRow seenOutside = RowOf(Read(link.a, "qa"), OwnerKind::App, "neighbour");
    EXPECT_EQ(seenOutside.counters.sent.localBytes, 0U);
    EXPECT_EQ(seenOutside.counters.sent.billedBytes, 3 * kToEach);
    Stop(inside);
}

// A restart is a new run: the counters start again from zero, and a socket opened
// before it is still counted for its scope, in its own namespace.
TEST_F(CollectorTest, RestartStartsANewRun) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "rst");
    struct Sender {
        std::string name; // loopback is shared with whatever else runs: this run's alone
        std::string netns;
        std::unique_ptr<Scope> scope;
        pid_t pid = -1;
        int orders = -1; // counts of datagrams to send to itself; 0 ends it
        int done = -1;
    };
    std::array<Sender, 2> senders{
        Sender{.name = "restarter" + std::to_string(::getpid())},
        Sender{.name = "nsrestarter" + std::to_string(::getpid()), .netns = link.a}};
    for (Sender& sender : senders) {
        sender.scope = std::make_unique<Scope>(Slice(), "app-test-" + sender.name + "-1.scope");
        int orders[2];
        int done[2];
        ASSERT_EQ(::pipe2(orders, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(done, O_CLOEXEC), 0);
        sender.pid = Spawn({.scope = sender.scope->Path(), .netns = sender.netns}, [&] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in self{.sin_family = AF_INET, .sin_addr = {htonl(INADDR_LOOPBACK)}};
            socklen_t size = sizeof self;
            if (::bind(fd, reinterpret_cast<sockaddr*>(&self), size) != 0) {
                return 1;
            }
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &size);
            const std::string payload(200, 'r');
            for (int count; ::read(orders[0], &count, sizeof count) == sizeof count && count > 0;) {
                for (int sent = 0; sent < count; ++sent) {
                    ::sendto(fd, payload.data(), payload.size(), 0,
                             reinterpret_cast<const sockaddr*>(&self), size);
                }
                ::write(done[1], &count, sizeof count);
            }
            return 0;
        });
        ::close(orders[0]);
        ::close(done[1]);
        sender.orders = orders[1];
        sender.done = done[0];
    }
    const auto send = [&](int count) {
        for (const Sender& sender : senders) {
            int answer = 0;
            ::write(sender.orders, &count, sizeof count);
            ::read(sender.done, &answer, sizeof answer);
        }
    };
    const auto sentBy = [&](const CollectorCounters& counters, const Sender& sender) {
        return RowOf(counters, OwnerKind::App, sender.name).counters.sent.localBytes;
    };
    constexpr std::uint64_t kDatagram = 20 + 8 + 200;

    send(100);
    const CollectorCounters first = Read("", "lo");
    EXPECT_EQ(sentBy(first, senders[0]), 100 * kDatagram);
    EXPECT_EQ(sentBy(Read(link.a, "lo"), senders[1]), 100 * kDatagram);
    StopService();
    StartService();
    ASSERT_GT(s_service, 0);
    send(50);
    const CollectorCounters second = Read("", "lo");
    EXPECT_NE(second.runId, first.runId);
    EXPECT_EQ(sentBy(second, senders[0]), 50 * kDatagram);
    EXPECT_EQ(sentBy(second, senders[1]), 0U);
    EXPECT_EQ(sentBy(Read(link.a, "lo"), senders[1]), 50 * kDatagram);

    send(0);
    for (const Sender& sender : senders) {
        EXPECT_EQ(Wait(sender.pid), 0);
        ::close(sender.orders);
        ::close(sender.done);
    }
}

// A reader that stops half-way through a line, one that sends an endless line and
// one that sends nonsense hold nobody up; each gets its answer.
TEST_F(CollectorTest, NoReaderHoldsTheService) {
    const int silent = Connect("COUNTERS 1");
    const int endless = Connect(std::string(6000, 'x'));
    const int nonsense = Connect("HELLO\nCOUNTERS x 1\n");
    ::shutdown(nonsense, SHUT_WR);
    EXPECT_TRUE(CollectorClient(s_socket, 5s).ReadCounters("lo").has_value());
    EXPECT_EQ(AnswerOf(endless), "ERR za długi wiersz\n");
    EXPECT_TRUE(AnswerOf(nonsense).starts_with("ERR nieznane polecenie\nERR COUNTERS"));
    ::close(silent);
}

using CollectorStormTest = CollectorTest;

// 200 applications, each in a scope of its own removed once it sent: a meter reading
// all along adds up exactly what they sent, while the service folds them away and
// its owners go back to what they were.
TEST_F(CollectorStormTest, ChurnOfRemovedScopesStaysBoundedAndAFoldDoublesNothing) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "churn");
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5010);
    const auto owners = [] {
        return ParseStatusAnswer(Ask(StatusRequestLine())).value().owners;
    };
    const std::uint64_t ownersBefore = owners();
    const auto text = InChild({.netns = link.a}, [&]() -> std::optional<std::string> {
        CollectorReader reader(s_socket);
        quantiro::applications::ApplicationTraffic traffic;
        double sentKb = 0;
        std::size_t churning = 0;
        const auto take = [&] { // a question, and its answer within 5 s
            reader.Poll({.name = "qa"}, true);
            for (int wait = 0; wait < 500; std::this_thread::sleep_for(10ms), ++wait) {
                if (const auto answer = reader.Poll({.name = "qa"}, false)) {
                    churning = std::ranges::count_if(answer->applications, [](const auto& row) {
                        return row.application.starts_with("churn");
                    });
                    for (const auto& delta : traffic.Differences(*answer, 0, {})) {
                        sentKb += delta.sent.WholeKb();
                    }
                    return true;
                }
            }
            return false;
        };
        bool answered = take();
        for (int index = 0; index < 200 && answered; ++index) {
            const Scope scope(Slice(), "app-test-churn" + std::to_string(index) + "-1.scope");
            Wait(Spawn({.scope = scope.Path()},
                       [] { return SendDatagrams("10.200.0.2", 5010, 3, 200); }));
            answered = index % 50 != 49 || take();
        }
        // Read on, as a meter does, until the service folded them all.
        for (int reading = 0; reading < 120 && churning > 0 && answered; ++reading) {
            std::this_thread::sleep_for(500ms);
            answered = take();
        }
        return answered ? std::optional(std::to_string(std::llround(sentKb * 1024)) + " " +
                                        std::to_string(churning))
                        : std::nullopt;
    });
    ::kill(sink, SIGKILL);
    Wait(sink);
    ASSERT_TRUE(text.has_value()) << "a question went unanswered";
    EXPECT_EQ(*text, std::to_string(200 * 3 * (20 + 8 + 200)) + " 0");
    // The sink, the rest row and what the namespaces' kernels sent at most, not 200.
    EXPECT_LE(owners(), ownersBefore + 5);
}

// 300 scopes made and removed at the bottom of a chain of 14 cgroups with a thousand
// more beside it, each with a socket: a reader asking all the while is answered every
// time, and each scope is named from its path (a machine scope is a container's only
// below machine.slice), though most are gone by then.
TEST_F(CollectorStormTest, AReaderGetsItsAnswersDuringAScopeStormOverADeepTree) {
    const LinkPair link("qc" + std::to_string(::getpid()) + "storm");
    const pid_t sink = SpawnSink(link.b, SOCK_DGRAM, 5011);
    std::vector<std::string> made{s_subtree + "/deep"};
    for (int level = 1; level < 14; ++level) {
        made.push_back(made.back() + "/level" + std::to_string(level));
    }
    const std::string machines = made.back() + "/machine.slice";
    for (int index = 0; index < 1000; ++index) {
        made.push_back(made[index % 13] + "/idle" + std::to_string(index));
    }
    made.push_back(machines);
    for (const std::string& directory : made) {
        ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0) << directory;
    }
    const pid_t storm = Spawn({}, [&] {
        for (int index = 0; index < 300; ++index) {
            const Scope scope(machines, "machine-storm" + std::to_string(index) + ".scope");
            Wait(Spawn({.scope = scope.Path(), .netns = link.a},
                       [] { return SendDatagrams("10.200.0.2", 5011, 1, 100); }));
        }
        return 0;
    });
    std::set<std::string> named;
    for (bool over = false; !over;) {
        over = ::waitpid(storm, nullptr, WNOHANG) != 0;           // then one reading more
        for (const CollectorRow& row : Read(link.a, "qa").rows) { // throws when unanswered
            if (row.owner.kind == OwnerKind::Unit && row.owner.id.starts_with("nspawn storm")) {
                named.insert(row.owner.id);
            }
        }
    }
    ::kill(sink, SIGKILL);
    Wait(sink);
    for (auto directory = made.rbegin(); directory != made.rend(); ++directory) {
        ::rmdir(directory->c_str());
    }
    EXPECT_EQ(named.size(), 300U);
}

int ConnectTo(const std::string& socket) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = *UnixAddress(socket);
    timeval limit{.tv_sec = 10}; // a guard against a hang, never reached when all is well
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? fd
                                                                                           : -1;
}

// One user's storm: `connections` to the service, each sending `question` `questions`
// times at once and reading nothing until `release` closes; then each asks STATUS,
// ends its sending and reads all it is sent. Its status: how many connections the
// service kept (a refused one is told why at once), or 255 when a kept one lost answers.
int HoldConnections(const std::string& socket, int connections, const std::string& question,
                    int questions, int ready, int release) {
    std::string lines;
    for (int at = 0; at < questions; ++at) {
        lines += question;
    }
    std::vector<pollfd> polls;
    for (int at = 0; at < connections; ++at) {
        polls.push_back({.fd = ConnectTo(socket), .events = POLLIN});
        if (polls.back().fd < 0) {
            return 254;
        }
        // A refused connection may be closed already: what it sends is lost, and so be it.
        ::send(polls.back().fd, lines.data(), lines.size(), MSG_NOSIGNAL);
    }
    char byte = 0;
    if (::write(ready, &byte, 1) != 1 || ::read(release, &byte, 1) != 0) {
        return 254;
    }
    // What the service has not read of each one's questions: it reads the next only once
    // the last answer is taken, so a connection that reads nothing keeps most unread.
    std::vector<int> unread(polls.size());
    for (std::size_t at = 0; at < polls.size(); ++at) {
        ::ioctl(polls[at].fd, SIOCOUTQ, &unread[at]);
    }
    for (const pollfd& poll : polls) {
        ::send(poll.fd, "STATUS\n", 7, MSG_NOSIGNAL);
        ::shutdown(poll.fd, SHUT_WR);
    }
    std::vector<std::string> texts(polls.size());
    std::array<char, 65536> buffer{};
    for (std::size_t open = polls.size(); open > 0;) {
        if (::poll(polls.data(), polls.size(), 10000) <= 0) {
            return 253;
        }
        for (std::size_t at = 0; at < polls.size(); ++at) {
            if (polls[at].revents == 0) {
                continue;
            }
            const ssize_t got = ::recv(polls[at].fd, buffer.data(), buffer.size(), 0);
            if (got > 0) {
                texts[at].append(buffer.data(), static_cast<std::size_t>(got));
                continue;
            }
            ::close(polls[at].fd);
            polls[at].fd = -1;
            --open;
        }
    }
    int kept = 0;
    for (std::size_t at = 0; at < texts.size(); ++at) {
        std::size_t answers = 0;
        for (std::size_t end = 0; (end = texts[at].find("\nEND\n", end)) != std::string::npos;
             ++end) {
            ++answers;
        }
        if (!texts[at].starts_with("ERR za dużo")) {
            if (answers != static_cast<std::size_t>(questions) + 1 ||
                (questions > 0 && unread[at] == 0)) {
                return 255;
            }
            ++kept;
        }
    }
    return kept;
}

// Storms the service from `users` uids at once (60000 on), each as HoldConnections,
// runs `meanwhile` while they hold on, and returns what each user kept.
std::vector<int> WhileStorming(const std::string& socket, int users, int connections,
                               const std::string& question, int questions,
                               const std::function<void()>& meanwhile) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<pid_t> storms;
    for (int user = 0; user < users; ++user) {
        storms.push_back(Spawn({.uid = static_cast<uid_t>(60000 + user)}, [&] {
            ::close(release[1]);
            return HoldConnections(socket, connections, question, questions, ready[1], release[0]);
        }));
    }
    for (char byte = 0; users > 0 && ::read(ready[0], &byte, 1) == 1; --users) {
    }
    meanwhile();
    for (const int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }
    std::vector<int> kept;
    for (const pid_t storm : storms) {
        kept.push_back(Wait(storm));
    }
    return kept;
}

// Waits until the service holds no reader but the one asking: a last storm's are gone.
void AwaitNoReaders(const std::string& socket) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ConnectTo(socket);
        ::send(fd, "STATUS\n", 7, MSG_NOSIGNAL);
        std::string text(4096, '\0');
        text.resize(
            static_cast<std::size_t>(std::max(::recv(fd, text.data(), text.size(), 0), 0L)));
        ::close(fd);
        const auto status = ParseStatusAnswer(text);
        if (status && status->tables.front().used == 1) {
            return;
        }
        std::this_thread::sleep_for(50ms);
    }
}

struct StormCase {
    const char* name;
    int users;       // storming at once, each from a uid of its own
    int connections; // each user's
    int questions;   // each connection's, sent at once and read only at the end
    int keptInAll;   // of all the storming users' connections
};

// A reader of another user, connected before a storm of connections or beside
// pipelining readers, gets every answer on its one connection; a user keeps 8
// connections, the other users 120 in all, and root is answered all the same.
TEST_F(CollectorTest, AReaderGetsItsAnswersDuringAConnectionStorm) {
    const StormCase cases[] = {
        {"one user connecting 300 times", 1, 300, 0, 8},
        {"sixteen users connecting 10 times each", 16, 10, 0, 119}, // and the honest one
        {"a user's pipelining readers", 1, 8, 1000, 8},
    };
    const std::string question = CountersLineIn("", "lo");
    for (const StormCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        AwaitNoReaders(s_socket);
        int ready[2];
        int go[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC) | ::pipe2(go, O_CLOEXEC), 0);
        const pid_t honest = Spawn({.uid = 60100}, [&] {
            const int fd = ConnectTo(s_socket);
            char byte = 0;
            if (fd < 0 || ::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1) {
                return 2;
            }
            for (int asked = 0; asked < 5; ++asked) {
                ::send(fd, question.data(), question.size(), MSG_NOSIGNAL);
                std::string answer;
                std::array<char, 4096> buffer{};
                for (ssize_t got = 1; got > 0 && !answer.ends_with("\nEND\n");) {
                    got = ::recv(fd, buffer.data(), buffer.size(), 0);
                    answer.append(buffer.data(), static_cast<std::size_t>(std::max(got, 0L)));
                }
                if (!answer.starts_with("RUN") || !answer.ends_with("\nEND\n")) {
                    return 1;
                }
            }
            return 0;
        });
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        const std::vector<int> kept =
            WhileStorming(s_socket, entry.users, entry.connections, question, entry.questions, [&] {
                EXPECT_EQ(::write(go[1], &byte, 1), 1);
                EXPECT_EQ(Wait(honest), 0);
                EXPECT_TRUE(CollectorClient(s_socket, 5s).ReadCounters("lo").has_value());
            });
        EXPECT_EQ(std::accumulate(kept.begin(), kept.end(), 0), entry.keptInAll);
        EXPECT_LE(*std::max_element(kept.begin(), kept.end()), 8);
        for (const int fd : {ready[0], ready[1], go[0], go[1]}) {
            ::close(fd);
        }
    }
}

// Readers that ask a thousand questions each and read none leave the service holding
// one answer each, not a thousand: it leaves their further questions unread, its
// memory stays put, and each, reading at last, gets every answer.
TEST_F(CollectorTest, UnreadAnswersStayBounded) {
    // A service of its own, whose freed memory is used again at once even under
    // AddressSanitizer: its quarantine would keep it resident.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string options = sanitizer == nullptr ? "" : sanitizer;
    ::setenv("ASAN_OPTIONS", (options + ":quarantine_size_mb=0").c_str(), 1);
    const std::string socket = (s_dir->Path() / "unread.sock").string();
    const pid_t service = Launch(socket);
    sanitizer == nullptr ? ::unsetenv("ASAN_OPTIONS") : ::setenv("ASAN_OPTIONS", sanitizer, 1);
    ASSERT_GT(service, 0);
    const Scope scope(s_subtree, "unread");
    for (uid_t uid = 60000; uid < 60003; ++uid) {
        // Eighty programs of the user's own, so that each answer it gets is long.
        ASSERT_EQ(Wait(Spawn({.scope = scope.Path(), .uid = uid},
                             [] {
                                 for (int program = 0; program < 80; ++program) {
                                     ::prctl(PR_SET_NAME, ("q" + std::to_string(program)).c_str());
                                     if (SendDatagrams("127.0.0.1", 9, 1, 10) != 0) {
                                         return 1;
                                     }
                                 }
                                 return 0;
                             })),
                  0);
    }
    const auto field = [&](const char* file, int at) { // the `at`th word of its line
        std::ifstream text("/proc/" + std::to_string(service) + "/" + file);
        std::string word;
        for (int skipped = 0; skipped < at && text >> word; ++skipped) {
        }
        return text >> word ? std::stol(word) : -1L;
    };
    const auto resident = [&] {
        return field("statm", 1) * ::sysconf(_SC_PAGESIZE) / 1024;
    };
    const long before = resident();
    long most = before;
    const std::vector<int> kept = WhileStorming(socket, 3, 8, CountersLineIn("", "lo"), 1000, [&] {
        // Until the service stands idle, all it would answer answered or waiting.
        for (long same = 0, last = -1, attempt = 0; same < 5 && attempt < 300; ++attempt) {
            std::this_thread::sleep_for(100ms);
            const long busy = field("stat", 13) + field("stat", 14); // its user and system time
            same = busy == last ? same + 1 : 0;
            last = busy;
            most = std::max(most, resident());
        }
    });
    Stop(service);
    EXPECT_LT(most - before, 16 * 1024) << before << " kB before";
    EXPECT_EQ(kept, std::vector<int>(3, 8));
}

// Whether `text` is whole UTF-8, as iconv reads it.
bool IsUtf8(std::string text) {
    const iconv_t convert = ::iconv_open("UTF-32LE", "UTF-8");
    std::vector<char> out(4 * text.size() + 4);
    char* in = text.data();
    char* written = out.data();
    std::size_t inLeft = text.size();
    std::size_t outLeft = out.size();
    const bool whole = ::iconv(convert, &in, &inLeft, &written, &outLeft) != std::size_t(-1);
    ::iconv_close(convert);
    return whole;
}

struct LineCase {
    const char* name;
    std::string sent;     // then the connection's sending ends
    const char* start;    // of the answer
    const char* contains; // somewhere in it
};

// A malformed request is refused, the last one is answered even without its newline,
// and no answer carries a control character or a byte that is no UTF-8, whatever the
// request or an owner's name held.
TEST_F(CollectorTest, MalformedLinesGetCleanAnswers) {
    const Scope scope(s_subtree, "plain"); // no unit: its programs go by their names
    const pid_t sender = Spawn({.scope = scope.Path(), .name = "\xff\xfe"},
                               [] { return SendDatagrams("127.0.0.1", 9, 1, 10); });
    ASSERT_EQ(Wait(sender), 0);
    const UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    ASSERT_EQ(::getsockopt(probe.Get(), SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length), 0);
    const LineCase cases[] = {
        {"a NUL inside a prefix", "LOCAL 1.2.3.4\0garbage/8\n"s, "ERR prefiks nr 1", "?garbage"},
        {"the last line without its newline", "LOCAL", "OK\n", ""},
        {"bytes that are no UTF-8, echoed", "LOCAL caf\xff\xfe/8\n", "ERR prefiks nr 1", "caf??"},
        {"an overlong slash and a surrogate, echoed", "LOCAL \xc0\xaf..\xed\xa0\x80\n",
         "ERR prefiks nr 1", ""},
        {"an owner named with bytes that are no UTF-8",
         CountersRequestLine(cookie, ::if_nametoindex("lo")), "RUN ", "\texe\t??\t"},
    };
    for (const LineCase& entry : cases) {
        const std::string answer = Ask(entry.sent);
        EXPECT_TRUE(answer.starts_with(entry.start)) << entry.name << ": " << answer;
        EXPECT_NE(answer.find(entry.contains), std::string::npos) << entry.name << ": " << answer;
        EXPECT_TRUE(answer.ends_with('\n')) << entry.name << ": " << answer;
        EXPECT_TRUE(IsUtf8(answer)) << entry.name << ": " << answer;
    }
}

struct SecondStartCase {
    const char* name;
    bool livePeer;   // a service answers on the socket already
    bool killedPeer; // one was killed there, its socket left behind
    int starting;    // services started at once
    int refusing;    // of them, those that end at once, saying why
};

// One service a socket: another started beside it ends and leaves it its socket, of
// two started at once one ends, and a dead service's socket is taken over.
TEST_F(CollectorTest, OneServiceASocket) {
    const SecondStartCase cases[] = {
        {"beside a live service", true, false, 1, 1},
        {"two at once", false, false, 2, 1},
        {"over a killed service's socket", false, true, 1, 0},
    };
    for (const SecondStartCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        const std::string socket = (s_dir->Path() / "one.sock").string();
        pid_t peer = -1;
        std::string peerRun;
        if (entry.livePeer || entry.killedPeer) {
            peer = Launch(socket);
            ASSERT_GT(peer, 0);
            peerRun = CollectorClient(socket, 1s).ReadCounters("lo").value().runId;
        }
        if (entry.killedPeer) {
            ::kill(peer, SIGKILL);
            Wait(peer);
            peer = -1;
        }
        std::vector<std::pair<pid_t, std::string>> started; // pid, its log
        for (int at = 0; at < entry.starting; ++at) {
            const std::string log = (s_dir->Path() / ("one-" + std::to_string(at) + ".log"));
            ::unlink(log.c_str());
            started.emplace_back(Start(socket, "", log), log);
        }
        int refused = 0;
        for (int tenth = 0; tenth < 100 && refused < entry.refusing; ++tenth) {
            std::this_thread::sleep_for(100ms);
            for (auto& [pid, log] : started) {
                int status = 0;
                if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
                    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
                    EXPECT_NE(Output("cat " + log).find("działa już"), std::string::npos)
                        << Output("cat " + log);
                    pid = -1;
                    ++refused;
                }
            }
        }
        EXPECT_EQ(refused, entry.refusing);
        for (int attempt = 0; attempt < 100 && !Answers(socket); ++attempt) {
            std::this_thread::sleep_for(50ms);
        }
        const auto counters = CollectorClient(socket, 1s).ReadCounters("lo");
        ASSERT_TRUE(counters.has_value());
        if (entry.livePeer) {
            EXPECT_EQ(counters->runId, peerRun);
        }
        std::size_t running = peer > 0 ? 1 : 0;
        for (const auto& [pid, log] : started) {
            running += pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0 ? 1 : 0;
            Stop(pid);
        }
        EXPECT_EQ(running, 1U);
        Stop(peer);
    }
}

struct StatusCase {
    const char* name;
    bool running; // asked where the suite's service runs
    uid_t uid;
    int status;
    const char* says;
};

// `quantiro-collector --status` as any user types it: that one runs, since when, for how
// many owners, how full; or that none does, with systemctl's status 3.
TEST_F(CollectorTest, StatusTellsWhetherItRuns) {
    const StatusCase cases[] = {
        {"running, asked by root", true, 0, 0, "działa na gnieździe "},
        {"running, asked by another user", true, 65534, 0, "właściciele ruchu: "},
        {"none running", false, 0, 3, "nie działa"},
    };
    for (const StatusCase& entry : cases) {
        const std::string socket =
            entry.running ? s_socket : (s_dir->Path() / "none.sock").string();
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        const pid_t asker = Spawn({.uid = entry.uid}, [&] {
            ::dup2(pipe[1], STDOUT_FILENO);
            ::execl(QUANTIRO_COLLECTOR_BINARY, QUANTIRO_COLLECTOR_BINARY, "--socket",
                    socket.c_str(), "--status", nullptr);
            return 127;
        });
        ::close(pipe[1]);
        std::string text;
        std::array<char, 4096> buffer{};
        for (ssize_t got; (got = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) {
            text.append(buffer.data(), static_cast<std::size_t>(got));
        }
        ::close(pipe[0]);
        EXPECT_EQ(Wait(asker), entry.status) << entry.name << ": " << text;
        EXPECT_NE(text.find(entry.says), std::string::npos) << entry.name << ": " << text;
    }
}

// The journal is told of the start, and of a storm of bad requests only a few lines a
// minute, the rest counted when the service stops.
TEST_F(CollectorTest, TellsTheJournalWithoutFloodingIt) {
    const std::string socket = (s_dir->Path() / "journal.sock").string();
    const std::string log = (s_dir->Path() / "journal.log").string();
    const pid_t service = Launch(socket, "", log);
    ASSERT_GT(service, 0);
    std::string storm;
    for (int line = 0; line < 30; ++line) {
        storm += "HELLO\n";
    }
    Ask(storm, socket);
    Stop(service);
    const std::string text = Output("cat " + log);
    const auto count = [&](const std::string& part) {
        std::size_t found = 0;
        for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at) {
            ++found;
        }
        return found;
    };
    EXPECT_EQ(count("liczy ruch"), 1U) << text;
    EXPECT_EQ(count(socket), 1U) << text;
    EXPECT_EQ(count("nieznane polecenie"), 5U) << text;
    EXPECT_EQ(count("pominięto jeszcze 25 "), 1U) << text;
    // This kernel runs the fold on each CPU: the CPUs' pending counters are in use.
    EXPECT_EQ(count("na wskazanym procesorze"), 0U) << text;
}

struct OwnerCase {
    const char* path;
    const char* executable;
    OwnerKind kind;
    const char* id;
};

TEST(CgroupOwnerTest, NamesTheOwnerFromThePath) {
    const OwnerCase cases[] = {
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/app-firefox-12.scope",
         "firefox-bin", OwnerKind::App, "firefox"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-org.gnome.Terminal-4711.scope",
         "bash", OwnerKind::App, "org.gnome.Terminal"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-flatpak-org.example.My\\x2dApp-99.scope",
         "app", OwnerKind::App, "org.example.My-App"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-org.kde.konsole@3.service",
         "konsole", OwnerKind::App, "org.kde.konsole"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/app-thunderbird.service", "tb",
         OwnerKind::App, "thunderbird"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-org.gnome.Evince-12345.service",
         "evince", OwnerKind::App, "org.gnome.Evince"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-org.kde.konsole-2f9a4c1e8b7d4e6fa3c5b1d0e9f8a7b6.scope",
         "konsole", OwnerKind::App, "org.kde.konsole"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-KDE-org.kde.okular-12345.service",
         "okular", OwnerKind::App, "org.kde.okular"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-flatpak-org.telegram.desktop-12345.service",
         "telegram", OwnerKind::App, "org.telegram.desktop"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "snap.firefox.firefox-6b1f3c2e-9d4a-4e5b-8c7d-0a1b2c3d4e5f.scope",
         "firefox", OwnerKind::App, "firefox_firefox"},
        {"/user.slice/user-1000.slice/user@1000.service/"
         "snap.snap-store.snap-store.0f9e8d7c-6b5a-4c3d-9e2f-1a0b9c8d7e6f.scope",
         "snap-store", OwnerKind::App, "snap-store_snap-store"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "dbus-:1.2-org.gnome.Nautilus@0.service",
         "nautilus", OwnerKind::App, "org.gnome.Nautilus"},
        {"/system.slice/"
         "docker-4f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0.scope",
         "nginx", OwnerKind::Unit, "docker 4f1e2d3c4b5a"},
        {"/machine.slice/"
         "libpod-0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9.scope/"
         "container",
         "curl", OwnerKind::Unit, "podman 0a1b2c3d4e5f"},
        {"/machine.slice/machine-debian\\x2dtest.scope/payload/system.slice/"
         "systemd-resolved.service",
         "systemd-resolve", OwnerKind::Unit, "nspawn debian-test"},
        {"/machine.slice/systemd-nspawn@arch.service/payload", "curl", OwnerKind::Unit,
         "nspawn arch"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-slash\\x2f..\\x2fetc-1.scope",
         "evil", OwnerKind::Exe, "evil"},
        {"/machine.slice/machine-a\\x2f..\\x2fb.scope/payload", "curl", OwnerKind::Exe, "curl"},
        {"/system.slice/apt-daily.service", "apt", OwnerKind::Unit, "apt-daily.service"},
        {"/system.slice/system-getty.slice/getty@tty1.service", "agetty", OwnerKind::Unit,
         "getty@tty1.service"},
        {"/user.slice/user-1000.slice/session-2.scope", "curl", OwnerKind::Exe, "curl"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/dbus.service", "dbus-daemon",
         OwnerKind::Exe, "dbus-daemon"},
        {"", "wget", OwnerKind::Exe, "wget"},
        {"/", "", OwnerKind::None, ""},
    };
    for (const OwnerCase& entry : cases) {
        const TrafficOwner owner = OwnerOf(entry.path, entry.executable);
        EXPECT_EQ(KindName(owner.kind), KindName(entry.kind)) << entry.path;
        EXPECT_EQ(owner.id, entry.id) << entry.path;
    }
}

// The meters ask once a second. An absent service is looked for at the first, second
// and fourth asks, then the eighth, 16th and 32nd, and every 32nd after: a machine
// without it sees a connect every half minute, and one started later is found.
TEST(CollectorReaderTest, AnAbsentServiceIsLookedForLessOftenYetFound) {
    const quantiro::testing::TempDir directory;
    const auto listen = [](const std::string& path) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const sockaddr_un address = *UnixAddress(path);
        if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd.Get(), 8) != 0) {
            throw std::runtime_error("cannot listen on " + path);
        }
        return fd;
    };
    const auto knocked = [](const UniqueFd& service) {
        return UniqueFd(::accept4(service.Get(), nullptr, nullptr, SOCK_CLOEXEC)).Valid();
    };

    const std::string early = (directory.Path() / "early.sock").string();
    CollectorReader reader(early);
    for (int ask = 1; ask <= 4; ++ask) {
        reader.Poll({.name = "lo"}, true);
    }
    const UniqueFd service = listen(early);
    for (int ask = 5; ask <= 7; ++ask) {
        reader.Poll({.name = "lo"}, true);
        EXPECT_FALSE(knocked(service)) << "ask " << ask;
    }
    reader.Poll({.name = "lo"}, true);
    EXPECT_TRUE(knocked(service)) << "ask 8";

    // Ten minutes without it: one that starts then is found within the longest gap.
    const std::string late = (directory.Path() / "late.sock").string();
    CollectorReader patient(late);
    for (int ask = 0; ask < 600; ++ask) {
        patient.Poll({.name = "lo"}, true);
    }
    const UniqueFd lateService = listen(late);
    int asks = 0;
    do {
        patient.Poll({.name = "lo"}, true);
        ++asks;
    } while (!knocked(lateService) && asks < 64);
    EXPECT_LE(asks, 32);
}

} // namespace
