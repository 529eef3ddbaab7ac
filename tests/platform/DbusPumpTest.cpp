// What a watch queues on its private system-bus connection reaches the bus although
// the loop pumps only when its wait set wakes: calls the bus passes on and nobody
// answers leave nothing to read, so a pump that stops while the library still has
// something to write, and a wait set that does not wait for the socket to take more,
// would leave it queued for good.
#include "fakes/TempDir.h"
#include "platform/linux/DbusLibrary.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

using namespace quantiro::platform::linux_impl;

TEST(DbusPumpTest, EverythingQueuedGoesOutThoughNothingIsAnswered) {
    const quantiro::testing::TempDir dir;
    const std::string address = "unix:path=" + (dir.Path() / "system_bus").string();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    FILE* daemon =
        ::popen(("dbus-daemon --session --nofork --print-pid=1 --address=" + address).c_str(), "r");
    int daemonPid = 0;
    ASSERT_EQ(std::fscanf(daemon, "%d", &daemonPid), 1);

    // The receiver takes the calls and answers none.
    DBusConnection* receiver = dbus_connection_open_private(address.c_str(), nullptr);
    ASSERT_TRUE(receiver && dbus_bus_register(receiver, nullptr));
    const char* receiverName = dbus_bus_get_unique_name(receiver);

    DbusLibrary dbus;
    ASSERT_TRUE(dbus.Load());
    DBusConnection* bus = dbus.OpenSystemBus();
    ASSERT_NE(bus, nullptr);
    // Each call larger than the library writes in one round, all queued before the
    // greeting's answer, as a watch queues its rules and questions at its start.
    constexpr int kCalls = 200;
    const std::string argument(2500, 'x');
    for (int i = 0; i < kCalls; ++i) {
        ASSERT_NE(
            dbus.QueueCall(bus, receiverName, "/", "org.example.Test", "Take", argument.c_str()),
            0U);
    }
    dbus.Pump(bus);
    const int waitSet = ::epoll_create1(EPOLL_CLOEXEC);
    ASSERT_TRUE(dbus.WatchIn(waitSet, bus));

    int taken = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (taken < kCalls && std::chrono::steady_clock::now() < deadline) {
        epoll_event event{};
        if (::epoll_wait(waitSet, &event, 1, 10) == 1) {
            ASSERT_TRUE(dbus.TakeMessages(bus, [](DBusMessage*) {}));
        }
        for (bool more = true; more;) {
            dbus_connection_read_write(receiver, 0);
            more = false;
            while (DBusMessage* call = dbus_connection_pop_message(receiver)) {
                more = true;
                taken += dbus_message_is_method_call(call, "org.example.Test", "Take") ? 1 : 0;
                dbus_message_unref(call);
            }
        }
    }
    EXPECT_EQ(taken, kCalls);

    dbus.ClosePrivate(bus);
    ::close(waitSet);
    dbus_connection_close(receiver);
    dbus_connection_unref(receiver);
    ::kill(daemonPid, SIGTERM);
    ::pclose(daemon);
}

} // namespace
