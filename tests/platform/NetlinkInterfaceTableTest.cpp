// Reads the real interface table through rtnetlink, inside a network namespace
// that this test process makes for itself, so no traffic leaves it.
#include "platform/linux/NetlinkInterfaceTable.h"

#include "fakes/RecordingNotifier.h"
#include "ifstats/CIpHelper.h"

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

    static std::vector<std::string> Names(const ifstats::CInterfaces& interfaces) {
        std::vector<std::string> names;
        for (const auto& row : interfaces) {
            names.push_back(row->InterfaceName());
        }
        return names;
    }

    static std::shared_ptr<ifstats::CInterface> Find(const ifstats::CInterfaces& interfaces,
                                                     const std::string& name) {
        for (const auto& row : interfaces) {
            if (row->InterfaceName() == name) {
                return row;
            }
        }
        return nullptr;
    }

    testing::RecordingNotifier m_notifier;
    static inline std::string s_skipReason;
};

TEST_F(NetlinkInterfaceTableTest, TheNamedInterfaceComesFirstAndItsCountersMoveByWhatCrossedIt) {
    Run("ip link add qa type veth peer name qb");
    Run("ip link set qa up");
    Run("ip link set qb up");
    ::setenv("QUANTIRO_INTERFACE", "qb", 1);
    NetlinkInterfaceTable table;
    ifstats::CIpHelper reader(table, m_notifier);

    const auto before = reader.Interfaces();
    ASSERT_GE(before->Count(), 3);
    EXPECT_EQ(table.PrimaryInterface(), "qb");
    const std::vector<std::string> names = Names(*before);
    EXPECT_EQ(names.front(), "qb");
    EXPECT_EQ(names.back(), "lo");

    const ifstats::CInterface& qb = *before->Item(1);
    EXPECT_EQ(qb.InterfaceType(), 6);
    EXPECT_EQ(qb.MaximumTransmissionUnit(), 1500);
    EXPECT_EQ(qb.AdminStatus(), 1);
    EXPECT_EQ(qb.OperationalStatus(), 5);
    EXPECT_EQ(qb.InterfaceIndex(), static_cast<std::int32_t>(::if_nametoindex("qb")));
    EXPECT_EQ(qb.AdapterAddress().size(), 17u); // six bytes, XX-XX-XX-XX-XX-XX
    EXPECT_EQ(qb.InterfaceDescription(), "qb"); // a virtual device names no driver
    EXPECT_EQ(qb.Speed(), 2'147'483'647);       // 10 Gbit/s does not fit, so it is capped
    const ifstats::CInterface& lo = *before->Item(before->Count());
    EXPECT_EQ(lo.InterfaceType(), 24);

    SendFrames("qa", 200, 1000); // 200,000 bytes into qb
    SendFrames("qb", 100, 1500); // 150,000 bytes out of qb
    const auto after = reader.Interfaces();
    const ifstats::CInterface& qbAfter = *after->Item(1);
    ASSERT_EQ(qbAfter.InterfaceName(), "qb");
    EXPECT_NEAR(qbAfter.OctetsReceived() - qb.OctetsReceived(), 200'000 / 1024.0, 1.0);
    EXPECT_NEAR(qbAfter.OctetsSent() - qb.OctetsSent(), 150'000 / 1024.0, 1.0);
    EXPECT_NEAR(Find(*after, "qa")->OctetsSent() - Find(*before, "qa")->OctetsSent(),
                200'000 / 1024.0, 1.0);
    EXPECT_TRUE(m_notifier.messages.empty());
    Run("ip link del qa");
}

TEST_F(NetlinkInterfaceTableTest, WithoutANameTheDefaultRouteChoosesAndLoopbackIsLast) {
    Run("ip link add b0 type bridge");
    Run("ip link add b1 type bridge");
    Run("ip link set b1 up");
    Run("ip addr add 192.0.2.2/24 dev b1"); // documentation range, inside this namespace only
    Run("ip route add default via 192.0.2.1 dev b1");
    Run("ip tuntap add t0 mode tun");
    ::setenv("QUANTIRO_INTERFACE", "no-such-interface", 1); // absent: the route decides

    NetlinkInterfaceTable table;
    ifstats::CIpHelper reader(table, m_notifier);
    const auto interfaces = reader.Interfaces();
    EXPECT_EQ(table.PrimaryInterface(), "b1");
    const std::vector<std::string> names = Names(*interfaces);
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names.front(), "b1");
    EXPECT_EQ(names.back(), "lo");
    // The rest keep the kernel's order, which is the order of their indexes.
    for (std::size_t i = 2; i + 1 < names.size(); ++i) {
        EXPECT_LT(::if_nametoindex(names[i - 1].c_str()), ::if_nametoindex(names[i].c_str()))
            << names[i - 1] << " " << names[i];
    }
    const auto b0 = Find(*interfaces, "b0");
    ASSERT_NE(b0, nullptr);
    EXPECT_EQ(b0->InterfaceType(), 6);
    EXPECT_EQ(b0->AdminStatus(), 2);
    EXPECT_EQ(b0->OperationalStatus(), 2);
    const auto t0 = Find(*interfaces, "t0");
    ASSERT_NE(t0, nullptr);
    EXPECT_EQ(t0->InterfaceType(), 131);
    EXPECT_EQ(t0->AdapterAddress(), "");

    // The primary interface is fixed for the run: a new default route changes nothing.
    Run("ip link set b0 up");
    Run("ip addr add 198.51.100.2/24 dev b0");
    Run("ip route replace default via 198.51.100.1 dev b0");
    EXPECT_EQ(reader.Interfaces()->Item(1)->InterfaceName(), "b1");
    NetlinkInterfaceTable freshTable; // a new run follows the new route
    ifstats::CIpHelper freshReader(freshTable, m_notifier);
    EXPECT_EQ(freshReader.Interfaces()->Item(1)->InterfaceName(), "b0");
    Run("ip link del b0");
    Run("ip link del b1");
    Run("ip tuntap del t0 mode tun");
}

TEST_F(NetlinkInterfaceTableTest, WhileTheMonitoredInterfaceIsGoneTheTableIsEmpty) {
    Run("ip link add qz type veth peer name qy");
    Run("ip link set qz up");
    Run("ip link set qy up");
    ::setenv("QUANTIRO_INTERFACE", "qz", 1);
    NetlinkInterfaceTable table;
    ifstats::CIpHelper reader(table, m_notifier);
    ASSERT_EQ(reader.Interfaces()->Item(1)->InterfaceName(), "qz");
    SendFrames("qy", 50, 1000);
    EXPECT_GE(reader.Interfaces()->Item(1)->OctetsReceived(), 48);

    Run("ip link del qz");
    EXPECT_EQ(reader.Interfaces()->Count(), 0);

    Run("ip link add qz type veth peer name qy");
    Run("ip link set qz up");
    Run("ip link set qy up");
    const auto back = reader.Interfaces();
    ASSERT_GE(back->Count(), 1);
    EXPECT_EQ(back->Item(1)->InterfaceName(), "qz");
    EXPECT_LT(back->Item(1)->OctetsReceived(), 2); // a new device starts from zero
    Run("ip link del qz");
}

} // namespace
} // namespace quantiro::platform::linux_impl
