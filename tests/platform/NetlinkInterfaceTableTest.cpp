// Reads the real interface table through rtnetlink, inside a network namespace
// that this test process makes for itself, so no traffic leaves it.
#include "platform/linux/NetlinkInterfaceTable.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
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

TEST_F(NetlinkInterfaceTableTest, WithoutANameTheDefaultRouteChoosesForTheWholeRun) {
    Run("ip link add b0 type bridge");
    Run("ip link add b1 type bridge");
    Run("ip link set b1 up");
    Run("ip addr add 192.0.2.2/24 dev b1"); // documentation range, inside this namespace only
    Run("ip route add default via 192.0.2.1 dev b1");
    ::setenv("QUANTIRO_INTERFACE", "no-such-interface", 1); // absent: the route decides

    NetlinkInterfaceTable table;
    const auto interfaces = Read(table);
    ASSERT_GE(interfaces.size(), 3u);
    EXPECT_EQ(interfaces.front().name, "b1");
    EXPECT_EQ(interfaces.back().name, "lo");

    // A new default route changes nothing for this run; a new run follows it.
    Run("ip link set b0 up");
    Run("ip addr add 198.51.100.2/24 dev b0");
    Run("ip route replace default via 198.51.100.1 dev b0");
    EXPECT_EQ(Read(table).front().name, "b1");
    NetlinkInterfaceTable freshTable;
    EXPECT_EQ(Read(freshTable).front().name, "b0");
    // The user's chosen interface comes before the route, the environment before both.
    NetlinkInterfaceTable chosen;
    chosen.PreferInterface([] { return std::string("b1"); });
    EXPECT_EQ(Read(chosen).front().name, "b1");
    ::setenv("QUANTIRO_INTERFACE", "lo", 1);
    NetlinkInterfaceTable overridden;
    overridden.PreferInterface([] { return std::string("b1"); });
    EXPECT_EQ(Read(overridden).front().name, "lo");
    Run("ip link del b0");
    Run("ip link del b1");
}

} // namespace
} // namespace quantiro::platform::linux_impl
