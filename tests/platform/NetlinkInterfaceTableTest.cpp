// Reads the real interface table through rtnetlink, inside a network namespace
// that this test process makes for itself, so no traffic leaves it.
#include "platform/linux/NetlinkInterfaceTable.h"

#include "platform/linux/LinkCounting.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {
namespace {

constexpr std::uint16_t kExperimentalEthertype = 0x88B5;

class NetlinkInterfaceTableTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            s_skipReason = "needs root to make a network namespace";
            return;
        }
        // A network namespace of our own, and a mount namespace in which /sys shows
        // that network namespace's devices (as "ip netns exec" arranges).
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
            s_skipReason = std::string("cannot make a network namespace: ") + std::strerror(errno);
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::umount2("/sys", MNT_DETACH) != 0 ||
            ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
            s_skipReason =
                std::string("cannot mount sysfs for the namespace: ") + std::strerror(errno);
            return;
        }
        // No IPv6 autoconfiguration chatter: the counters move only by what we send.
        std::ofstream("/proc/sys/net/ipv6/conf/default/disable_ipv6") << "1";
        std::ofstream("/proc/sys/net/ipv6/conf/all/disable_ipv6") << "1";
        Run("ip link set lo up");
    }

    void SetUp() override {
        if (!s_skipReason.empty()) {
            GTEST_SKIP() << s_skipReason;
        }
        ::unsetenv("QUANTIRO_INTERFACE");
    }

    static void Run(const std::string& command) {
        ASSERT_EQ(std::system((command + " 2>&1").c_str()), 0) << command;
    }

    static void SendFrames(const char* interfaceName, int count, std::size_t size) {
        const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(kExperimentalEthertype));
        ASSERT_GE(fd, 0) << std::strerror(errno);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(kExperimentalEthertype);
        to.sll_ifindex = static_cast<int>(::if_nametoindex(interfaceName));
        to.sll_halen = 6;
        std::memset(to.sll_addr, 0xFF, 6);
        std::vector<unsigned char> frame(size, 0x5A);
        std::memset(frame.data(), 0xFF, 6);
        frame[12] = kExperimentalEthertype >> 8;
        frame[13] = kExperimentalEthertype & 0xFF;
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                               sizeof to),
                      static_cast<ssize_t>(frame.size()))
                << std::strerror(errno);
        }
        ::close(fd);
    }

    static std::vector<InterfaceRow> Read(NetlinkInterfaceTable& table) {
        std::vector<InterfaceRow> rows;
        EXPECT_EQ(table.Read(rows), InterfaceTable::Status::Ok);
        return rows;
    }
    static void AddVethPair(const char* name, const char* peer) {
        Run(std::string("ip link add ") + name + " type veth peer name " + peer);
        Run(std::string("ip link set ") + name + " up");
        Run(std::string("ip link set ") + peer + " up");
    }

    static inline std::string s_skipReason;
};

TEST_F(NetlinkInterfaceTableTest, TheNamedInterfaceComesFirstAndItsCountersMoveByWhatCrossedIt) {
    AddVethPair("qa", "qb");
    ::setenv("QUANTIRO_INTERFACE", "qb", 1);
    NetlinkInterfaceTable table;

    const auto before = Read(table);
    ASSERT_GE(before.size(), 3u);
    const InterfaceRow qb = before.front();
    EXPECT_EQ(qb.name, "qb");
    EXPECT_EQ(qb.type, 6);
    EXPECT_EQ(qb.speed, 2'147'483'647); // 10 Gbit/s does not fit, so it is capped
    EXPECT_EQ(before.back().name, "lo");
    EXPECT_EQ(before.back().type, 24);

    SendFrames("qa", 200, 1000); // 200,000 bytes into qb
    SendFrames("qb", 100, 1500); // 150,000 bytes out of qb
    const auto after = Read(table);
    ASSERT_EQ(after.front().name, "qb");
    EXPECT_EQ(after.front().bytesReceived - qb.bytesReceived, 200'000u);
    EXPECT_EQ(after.front().bytesSent - qb.bytesSent, 150'000u);
    // A change of state alone, with no link added or removed, is in the next read.
    Run("ip link set qb down");
    EXPECT_EQ(Read(table).front().adminStatus, 2); // down
    Run("ip link set qb up");
    EXPECT_EQ(Read(table).front().adminStatus, 1); // up

    // While the monitored interface is gone the table is empty, so that no other
    // interface's counters are taken for its own; a re-created one starts from zero.
    Run("ip link del qa");
    EXPECT_TRUE(Read(table).empty());
    AddVethPair("qa", "qb");
    bool hasRows = false; // the cheap look of a paused meter sees the return too
    EXPECT_EQ(table.Look(hasRows), InterfaceTable::Status::Ok);
    EXPECT_TRUE(hasRows);
    const auto back = Read(table);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.front().name, "qb");
    EXPECT_LT(back.front().bytesReceived, 2048u);
    Run("ip link del qa");
}

// How each kind of link counts a large packet, each way, asked of links made here.
// A network card cannot be made in a test (it counts segments both ways); neither can
// a virtio_net card, which only a virtual machine's host provides: for them, the
// decision is asked with the parent device's bus that rtnetlink would name.
TEST_F(NetlinkInterfaceTableTest, ALinksParentDeviceAndOffloadTellHowItCountsLargePackets) {
    AddVethPair("qs", "qt");
    Run("ethtool -K qt tso off gso off");
    Run("ip link add qbridge type bridge");
    Run("ip tuntap add dev qtun mode tun"); // no offloads until its reader asks for them
    constexpr auto kWhole = SegmentCounting::Whole;
    constexpr auto kSegments = SegmentCounting::Segments;
    const struct {
        const char* link;
        SegmentCounting received, sent;
    } kinds[] = {{"qs", kWhole, kWhole},
                 {"qt", kWhole, kSegments},
                 {"qbridge", kWhole, kWhole},
                 {"qtun", kWhole, kSegments},
                 {"lo", kWhole, kWhole},
                 {"absent", SegmentCounting::Unknown, SegmentCounting::Unknown}};
    NetlinkInterfaceTable table;
    Read(table); // asked of the links as the table has them
    for (const auto& kind : kinds) {
        const LinkCounting counting = table.CountingOf(kind.link);
        EXPECT_EQ(counting.received, kind.received) << kind.link;
        EXPECT_EQ(counting.sent, kind.sent) << kind.link;
    }
    // The same veth as if rtnetlink named a parent on a bus: a card, or a virtio one.
    const LinkCounting card = CountingOfLink("qs", "pci");
    EXPECT_EQ(card.received, kSegments);
    EXPECT_EQ(card.sent, kSegments);
    EXPECT_EQ(CountingOfLink("qs", "virtio").sent, kWhole);
    Run("ip link del qs && ip link del qbridge && ip link del qtun");
}

// Without a name the table follows the main table's default route as it comes,
// moves and goes; one reader lives through all the steps, as a meter does.
TEST_F(NetlinkInterfaceTableTest, WithoutANameTheDefaultRouteIsFollowed) {
    // Documentation ranges, inside this namespace only; veth pairs with both ends
    // up have a carrier.
    for (const char* link : {"d0", "d1", "t0"}) {
        AddVethPair(link, (std::string(link) + "p").c_str());
    }
    Run("ip addr add 192.0.2.2/24 dev d0");
    Run("ip addr add 198.51.100.2/24 dev d1");
    Run("ip addr add 203.0.113.2/24 dev t0");
    ::setenv("QUANTIRO_INTERFACE", "no-such-interface", 1); // absent: the route decides

    struct Step {
        const char* name;
        std::vector<std::string> commands;
        const char* measured; // "": an empty table, the meter waits
    };
    const Step steps[] = {
        {"no default route yet: nothing is measured", {}, ""},
        {"a late default route", {"ip route add default via 192.0.2.1 dev d0"}, "d0"},
        {"the route moves to another link",
         {"ip route replace default via 198.51.100.1 dev d1"},
         "d1"},
        {"of two, the lower metric",
         {"ip route del default", "ip route add default via 198.51.100.1 dev d1 metric 200",
          "ip route add default via 192.0.2.1 dev d0 metric 100"},
         "d0"},
        {"a tunnel's two /1 routes do not move it",
         {"ip route add 0.0.0.0/1 dev t0", "ip route add 128.0.0.0/1 dev t0"},
         "d0"},
        {"nor a default route in another table", {"ip route add default dev t0 table 51820"}, "d0"},
        {"its link down: the other route", {"ip link set d0 down"}, "d1"},
        {"up again with its route",
         {"ip link set d0 up", "ip route add default via 192.0.2.1 dev d0 metric 100"},
         "d0"},
        {"IPv6 only",
         {"ip route del default via 192.0.2.1 dev d0", "ip route del default",
          "sysctl -qw net.ipv6.conf.d1.disable_ipv6=0",
          "ip -6 addr add 2001:db8::2/64 dev d1 nodad",
          "ip -6 route add default via 2001:db8::1 dev d1"},
         "d1"},
        {"no default route any more", {"ip -6 route del default"}, ""},
    };
    NetlinkInterfaceTable table;
    for (const Step& step : steps) {
        for (const std::string& command : step.commands) {
            Run(command);
        }
        const auto rows = Read(table);
        if (*step.measured == '\0') {
            EXPECT_TRUE(rows.empty()) << step.name << ": " << rows.front().name;
        } else {
            ASSERT_FALSE(rows.empty()) << step.name;
            EXPECT_EQ(rows.front().name, step.measured) << step.name;
            EXPECT_EQ(rows.back().name, "lo") << step.name;
        }
    }

    // A name present at the start is kept for the run, wherever the route goes: the
    // user's choice before the route, the environment before both.
    Run("ip route add default via 192.0.2.1 dev d0");
    NetlinkInterfaceTable chosen;
    chosen.PreferInterface("d1");
    EXPECT_EQ(Read(chosen).front().name, "d1");
    Run("ip route replace default via 198.51.100.1 dev d1");
    Run("ip route replace default via 192.0.2.1 dev d0");
    EXPECT_EQ(Read(chosen).front().name, "d1");
    ::setenv("QUANTIRO_INTERFACE", "lo", 1);
    NetlinkInterfaceTable overridden;
    overridden.PreferInterface("d1");
    EXPECT_EQ(Read(overridden).front().name, "lo");
    for (const char* link : {"d0", "d1", "t0"}) {
        Run(std::string("ip link del ") + link);
    }
}

// Under an event loop the kernel's announcements wait for the loop: a read leaves
// them unread, so a quiet tick costs no look at them, and the read after the loop
// took them in follows the route.
TEST_F(NetlinkInterfaceTableTest, UnderALoopAReadLeavesTheAnnouncementsToIt) {
    AddVethPair("l0", "l0p");
    AddVethPair("l1", "l1p");
    Run("ip addr add 192.0.2.2/24 dev l0");
    Run("ip addr add 198.51.100.2/24 dev l1");
    Run("ip route add default via 192.0.2.1 dev l0");
    NetlinkInterfaceTable table;
    const int changes = table.ChangesDescriptorForLoop();
    ASSERT_GE(changes, 0);
    EXPECT_EQ(Read(table).front().name, "l0");
    const auto announced = [&] {
        pollfd ready{.fd = changes, .events = POLLIN};
        return ::poll(&ready, 1, 0) == 1;
    };
    EXPECT_FALSE(announced());

    Run("ip route replace default via 198.51.100.1 dev l1");
    Read(table);
    EXPECT_TRUE(announced()) << "the read took the loop's announcement";
    table.ChangesReadable();
    EXPECT_FALSE(announced());
    EXPECT_EQ(Read(table).front().name, "l1");
    Run("ip link del l0");
    Run("ip link del l1");
}

// A routing daemon, or a VPN with a large split tunnel, adds and deletes thousands
// of routes at once. The notifications overflow; every read must still return
// soon, with the counters of what crossed the link since the last one.
TEST_F(NetlinkInterfaceTableTest, ARouteStormHoldsNoReadUp) {
    AddVethPair("s0", "s0p");
    Run("ip addr add 192.0.2.2/24 dev s0");
    Run("ip route add default via 192.0.2.1 dev s0");
    const std::string batch = "/tmp/quantiro-route-storm-" + std::to_string(::getpid());
    {
        std::ofstream commands(batch);
        for (const char* verb : {"add", "del"}) {
            for (int i = 0; i < 8000; ++i) {
                commands << "route " << verb << " 10." << i / 250 << '.' << i % 250
                         << ".0/24 via 192.0.2.1\n";
            }
        }
    }
    ::alarm(300); // a read that never returns ends the test instead of hanging it
    NetlinkInterfaceTable table;
    std::uint64_t received = Read(table).front().bytesReceived;
    const pid_t storm = ::fork();
    ASSERT_GE(storm, 0);
    if (storm == 0) {
        ::execlp("ip", "ip", "-batch", batch.c_str(), nullptr);
        ::_exit(127);
    }
    int reads = 0;
    std::chrono::steady_clock::duration longest{};
    int status = 0;
    while (::waitpid(storm, &status, WNOHANG) == 0) {
        SendFrames("s0p", 10, 1000);
        std::vector<InterfaceRow> rows;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(table.Read(rows), InterfaceTable::Status::Ok) << "read " << reads;
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        ASSERT_FALSE(rows.empty());
        ASSERT_EQ(rows.front().name, "s0");
        EXPECT_EQ(rows.front().bytesReceived - received, 10'000u) << "read " << reads;
        received = rows.front().bytesReceived;
        ++reads;
    }
    ::alarm(0);
    std::remove(batch.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GE(reads, 3) << "the storm ended before the reads could meet it";
    EXPECT_LT(longest, std::chrono::milliseconds(1500));
    Run("ip link del s0");
}

} // namespace
} // namespace quantiro::platform::linux_impl
