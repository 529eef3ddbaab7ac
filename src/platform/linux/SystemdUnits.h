#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct DBusConnection;

namespace quantiro::platform::linux_impl {

struct DbusLibrary;

// Whether `name` is a systemd unit's: something before a unit type's suffix
// ("ssh.service", "init.scope").
bool IsUnitName(std::string_view name);

// What systemd says a system unit is ("OpenBSD Secure Shell server" for ssh.service),
// asked on the system bus as any user may; answers are remembered. Without a bus or a
// systemd on it, or once it failed to answer, nothing more is asked.
class SystemdUnits {
public:
    SystemdUnits();
    ~SystemdUnits();
    SystemdUnits(const SystemdUnits&) = delete;
    SystemdUnits& operator=(const SystemdUnits&) = delete;

    // The unit's description; empty when systemd has none beyond the unit's name.
    const std::string& DescriptionOf(std::string_view unit);

private:
    bool Connect();
    std::string Ask(const std::string& unit);

    std::unique_ptr<DbusLibrary> m_dbus;
    DBusConnection* m_connection = nullptr;
    bool m_unreachable = false;
    std::map<std::string, std::string, std::less<>> m_descriptions;
};

} // namespace quantiro::platform::linux_impl
