// A system unit's look in the reports, from a stand-in for systemd on a bus of the
// test's own: its description beside its name where systemd has one, the name alone
// where it has none, for a name that is no unit, and without a bus.
#include "platform/linux/SystemdUnits.h"

#include "fakes/TempDir.h"
#include "platform/linux/GioDesktopEntries.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace quantiro::platform::linux_impl;

// LoadUnit and the Description property as systemd answers them: a unit it has no
// file for loads too, described by its name. Writes to `ready` once it owns the name.
[[noreturn]] void ServeUnits(const std::string& address,
                             const std::map<std::string, std::string>& descriptions, int ready) {
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), nullptr);
    if (!bus || !dbus_bus_register(bus, nullptr) ||
        dbus_bus_request_name(bus, "org.freedesktop.systemd1", 0, nullptr) != 1 ||
        ::write(ready, "r", 1) != 1) {
        ::_exit(1);
    }
    std::vector<std::string> loaded; // the last part of a unit's path is its index here
    while (dbus_connection_read_write(bus, -1)) {
        while (DBusMessage* call = dbus_connection_pop_message(bus)) {
            const char* unit = nullptr;
            DBusMessage* reply = dbus_message_new_method_return(call);
            if (dbus_message_is_method_call(call, "org.freedesktop.systemd1.Manager", "LoadUnit") &&
                dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &unit, DBUS_TYPE_INVALID)) {
                loaded.emplace_back(unit);
                const std::string path = "/u/" + std::to_string(loaded.size() - 1);
                const char* text = path.c_str();
                dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &text, DBUS_TYPE_INVALID);
            } else if (dbus_message_is_method_call(call, DBUS_INTERFACE_PROPERTIES, "Get")) {
                const std::string& name = loaded.at(std::stoul(dbus_message_get_path(call) + 3));
                const auto known = descriptions.find(name);
                const char* text =
                    known != descriptions.end() ? known->second.c_str() : name.c_str();
                DBusMessageIter arguments, variant;
                dbus_message_iter_init_append(reply, &arguments);
                dbus_message_iter_open_container(&arguments, DBUS_TYPE_VARIANT, "s", &variant);
                dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &text);
                dbus_message_iter_close_container(&arguments, &variant);
            }
            dbus_connection_send(bus, reply, nullptr);
            dbus_connection_flush(bus);
            dbus_message_unref(reply);
            dbus_message_unref(call);
        }
    }
    ::_exit(0);
}

TEST(SystemdUnitsTest, ShowsWhatSystemdSaysBesideTheUnitsName) {
    const quantiro::testing::TempDir dir;
    const std::string address = "unix:path=" + (dir.Path() / "system_bus").string();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    SystemdUnits noBus;
    EXPECT_EQ(GioDesktopEntries(&noBus).Look("ssh.service").name, "ssh.service");

    FILE* daemon =
        ::popen(("dbus-daemon --session --nofork --print-pid=1 --address=" + address).c_str(), "r");
    int daemonPid = 0;
    int ready[2];
    ASSERT_EQ(std::fscanf(daemon, "%d", &daemonPid), 1);
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t systemd = ::fork();
    if (systemd == 0) {
        ServeUnits(address, {{"ssh.service", "OpenBSD Secure Shell"}, {"sshd", "never asked"}},
                   ready[1]);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    SystemdUnits units;
    GioDesktopEntries entries(&units);
    for (const auto& [application, shown] :
         std::map<std::string, std::string>{{"ssh.service", "ssh.service (OpenBSD Secure Shell)"},
                                            {"gone.service", "gone.service"},
                                            {"sshd", "sshd"},
                                            {"docker 4f1e2d3c4b5a", "docker 4f1e2d3c4b5a"}}) {
        EXPECT_EQ(entries.Look(application).name, shown) << application;
    }
    ::kill(systemd, SIGTERM);
    ::waitpid(systemd, nullptr, 0);
    ::kill(daemonPid, SIGTERM);
    ::pclose(daemon);
}

} // namespace
