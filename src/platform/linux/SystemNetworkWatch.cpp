#include "platform/linux/SystemNetworkWatch.h"

#include "platform/linux/DbusLibrary.h"
#include "platform/linux/NetworkNames.h"

#include <cstdlib>
#include <map>
#include <variant>

#include <sys/epoll.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

constexpr const char* kManagerService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kDeviceInterface = "org.freedesktop.NetworkManager.Device";
constexpr const char* kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kDeviceAddedRule =
    "type='signal',sender='org.freedesktop.NetworkManager',"
    "path='/org/freedesktop/NetworkManager',interface='org.freedesktop.NetworkManager',"
    "member='DeviceAdded'";
// NetworkManager's device state "activated" and active connection state "activated".
constexpr std::uint32_t kDeviceActivated = 100;
constexpr std::uint32_t kConnectionActivated = 2;

using PropertyValue = std::variant<std::monostate, std::string, std::uint32_t, bool>;
using Properties = std::map<std::string, PropertyValue>;

std::string TextOf(const Properties& properties, const char* name) {
    const auto found = properties.find(name);
    if (found == properties.end()) {
        return {};
    }
    const auto* text = std::get_if<std::string>(&found->second);
    return text ? *text : std::string();
}

std::uint32_t NumberOf(const Properties& properties, const char* name) {
    const auto found = properties.find(name);
    if (found == properties.end()) {
        return 0;
    }
    const auto* number = std::get_if<std::uint32_t>(&found->second);
    return number ? *number : 0;
}

std::string SignalRuleFor(const std::string& path) {
    return "type='signal',sender='org.freedesktop.NetworkManager',path='" + path + "'";
}

} // namespace

// NetworkManager's view of the followed interface, asked and followed without ever
// waiting: each question is queued, and its answer comes in with a later read.
struct SystemNetworkWatch::ManagerFollower {
    DbusLibrary dbus;
    DBusConnection* bus = nullptr;
    std::string interfaceName;
    std::string owner; // NetworkManager's unique name; empty: not running
    dbus_uint32_t ownerRequest = 0;
    dbus_uint32_t deviceRequest = 0; // GetDeviceByIpIface
    dbus_uint32_t devicePropertiesRequest = 0;
    dbus_uint32_t activePropertiesRequest = 0;
    bool askAgain = false;      // something changed while a question was on the way
    std::string devicePath;     // empty: NetworkManager has no device of that name
    bool deviceUnknown = false; // it answered that it has none
    // The paths whose signals are followed; each activation makes a new active
    // connection, and the profile behind it says when it was renamed.
    std::string watchedDevice;
    std::string watchedActive;
    std::string watchedProfile;
    Properties device;
    // The settled network, and whether the device is settled on it now.
    Network settled;
    bool isSettled = false;

    ~ManagerFollower() {
        if (bus) {
            dbus.ClosePrivate(bus);
        }
    }

    dbus_uint32_t Call(const char* service, const char* path, const char* interface,
                       const char* member, const char* argument) const {
        return dbus.QueueCall(bus, service, path, interface, member, argument);
    }

    // Follows the signals of `path` instead of those of `watched`'s path.
    void WatchPath(std::string& watched, const std::string& path) const {
        if (watched == path) {
            return;
        }
        if (!watched.empty()) {
            dbus.removeMatch(bus, SignalRuleFor(watched).c_str(), nullptr);
        }
        watched = path;
        if (!watched.empty()) {
            dbus.addMatch(bus, SignalRuleFor(watched).c_str(), nullptr);
        }
    }

    void AskForDevice() {
        devicePath.clear();
        deviceUnknown = false;
        device.clear();
        devicePropertiesRequest = 0;
        activePropertiesRequest = 0;
        askAgain = false;
        deviceRequest = 0;
        isSettled = false;
        WatchPath(watchedDevice, {});
        WatchPath(watchedActive, {});
        WatchPath(watchedProfile, {});
        if (!owner.empty() && !interfaceName.empty()) {
            deviceRequest = Call(kManagerService, kManagerPath, kManagerService,
                                 "GetDeviceByIpIface", interfaceName.c_str());
        }
    }

    // A switch sends dozens of signals in a few milliseconds: one question is on the
    // way at a time, and one more is asked once it is answered.
    void AskForDeviceProperties() {
        if (devicePropertiesRequest != 0 || activePropertiesRequest != 0) {
            askAgain = true;
            return;
        }
        askAgain = false;
        if (!devicePath.empty()) {
            devicePropertiesRequest = Call(kManagerService, devicePath.c_str(),
                                           kPropertiesInterface, "GetAll", kDeviceInterface);
        }
    }

    // True when NetworkManager speaks for the followed interface: it runs, and it
    // has the device or has not answered yet. Until the bus has said whether it
    // runs at all, the kernel's identity waits too: a meter started under
    // NetworkManager must not first record the network under another name.
    bool InCharge() const {
        return !interfaceName.empty() && (ownerRequest != 0 || (!owner.empty() && !deviceUnknown));
    }

    std::string FirstString(DBusMessage* message) const {
        DBusMessageIter arguments;
        if (!dbus.iterInit(message, &arguments)) {
            return {};
        }
        const int type = dbus.iterArgType(&arguments);
        if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) {
            return {};
        }
        const char* text = nullptr;
        dbus.iterGetBasic(&arguments, &text);
        return text ? text : "";
    }

    // An a{sv} at `dictionary`: the strings, paths, numbers and truths in it.
    Properties ReadProperties(DBusMessageIter* dictionary) const {
        Properties properties;
        if (dbus.iterArgType(dictionary) != DBUS_TYPE_ARRAY) {
            return properties;
        }
        DBusMessageIter entries;
        dbus.iterRecurse(dictionary, &entries);
        while (dbus.iterArgType(&entries) == DBUS_TYPE_DICT_ENTRY) {
            DBusMessageIter entry;
            dbus.iterRecurse(&entries, &entry);
            const char* key = nullptr;
            if (dbus.iterArgType(&entry) == DBUS_TYPE_STRING) {
                dbus.iterGetBasic(&entry, &key);
            }
            if (key && dbus.iterNext(&entry) && dbus.iterArgType(&entry) == DBUS_TYPE_VARIANT) {
                DBusMessageIter variant;
                dbus.iterRecurse(&entry, &variant);
                const int type = dbus.iterArgType(&variant);
                if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH) {
                    const char* text = nullptr;
                    dbus.iterGetBasic(&variant, &text);
                    properties[key] = std::string(text ? text : "");
                } else if (type == DBUS_TYPE_UINT32) {
                    dbus_uint32_t number = 0;
                    dbus.iterGetBasic(&variant, &number);
                    properties[key] = std::uint32_t{number};
                } else if (type == DBUS_TYPE_BOOLEAN) {
                    dbus_bool_t truth = false;
                    dbus.iterGetBasic(&variant, &truth);
                    properties[key] = truth != 0;
                }
            }
            dbus.iterNext(&entries);
        }
        return properties;
    }

    Properties ReadAnswerProperties(DBusMessage* answer) const {
        DBusMessageIter arguments;
        if (dbus.messageType(answer) != DBUS_MESSAGE_TYPE_METHOD_RETURN ||
            !dbus.iterInit(answer, &arguments)) {
            return {};
        }
        return ReadProperties(&arguments);
    }

    void DeviceAnswered(DBusMessage* answer) {
        deviceRequest = 0;
        if (dbus.messageType(answer) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
            deviceUnknown = true; // not NetworkManager's device: the kernel tells
            return;
        }
        devicePath = FirstString(answer);
        WatchPath(watchedDevice, devicePath);
        AskForDeviceProperties();
    }

    void DevicePropertiesAnswered(DBusMessage* answer) {
        devicePropertiesRequest = 0;
        if (askAgain) {
            AskForDeviceProperties(); // this answer is already out of date
            return;
        }
        device = ReadAnswerProperties(answer);
        const std::string active = TextOf(device, "ActiveConnection");
        isSettled = false;
        if (active.empty() || active == "/") {
            WatchPath(watchedActive, {});
            WatchPath(watchedProfile, {});
            return; // no connection, or between two: the one leaving stays
        }
        WatchPath(watchedActive, active);
        activePropertiesRequest =
            Call(kManagerService, active.c_str(), kPropertiesInterface, "GetAll", kActiveInterface);
    }

    void ActivePropertiesAnswered(DBusMessage* answer) {
        activePropertiesRequest = 0;
        const Properties active = ReadAnswerProperties(answer);
        WatchPath(watchedProfile, TextOf(active, "Connection"));
        const std::string uuid = TextOf(active, "Uuid");
        const std::uint32_t metered = NumberOf(device, "Metered");
        // The device's Metered reads 0 for a few milliseconds after a switch, before
        // it takes the arriving connection's value.
        isSettled = !uuid.empty() && NumberOf(device, "State") == kDeviceActivated &&
                    NumberOf(active, "State") == kConnectionActivated && metered != 0;
        if (isSettled) {
            const std::string name = TextOf(active, "Id");
            settled = {.id = "nm:" + SafeNetworkId(uuid),
                       .otherId = settled.id == "nm:" + SafeNetworkId(uuid) ? settled.otherId
                                                                            : std::string(),
                       .name = SafeNetworkName(name.empty() ? uuid : name),
                       .kind = KindOfConnectionType(TextOf(active, "Type")),
                       .metered = MeteredValue(metered)};
        }
        if (askAgain) {
            AskForDeviceProperties();
        }
    }

    bool FromManager(DBusMessage* message) const {
        const char* from = dbus.sender(message);
        return from && !owner.empty() && owner == from;
    }

    std::string NewOwner(DBusMessage* message) const {
        DBusError error;
        dbus.errorInit(&error);
        const char* name = "";
        const char* before = "";
        const char* after = "";
        const bool read = dbus.getArgs(message, &error, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING,
                                       &before, DBUS_TYPE_STRING, &after, DBUS_TYPE_INVALID);
        dbus.errorFree(&error);
        return read ? after : "";
    }

    // Takes every message waiting; false once the bus is gone.
    bool TakeMessages() {
        return dbus.TakeMessages(bus, [this](DBusMessage* message) { Take(message); });
    }

    // Handles one message the bus sent.
    void Take(DBusMessage* message) {
        const dbus_uint32_t answers = dbus.replySerial(message);
        if (dbus.IsOwnerChange(message)) {
            owner = NewOwner(message);
            AskForDevice(); // a NetworkManager started anew knows nothing of the old paths
        } else if (ownerRequest != 0 && answers == ownerRequest) {
            ownerRequest = 0;
            owner = dbus.messageType(message) == DBUS_MESSAGE_TYPE_METHOD_RETURN
                        ? FirstString(message)
                        : std::string();
            AskForDevice();
        } else if (deviceRequest != 0 && answers == deviceRequest) {
            DeviceAnswered(message);
        } else if (devicePropertiesRequest != 0 && answers == devicePropertiesRequest) {
            DevicePropertiesAnswered(message);
        } else if (activePropertiesRequest != 0 && answers == activePropertiesRequest) {
            ActivePropertiesAnswered(message);
        } else if (dbus.messageType(message) == DBUS_MESSAGE_TYPE_SIGNAL && FromManager(message)) {
            const char* path = dbus.messagePath(message);
            if (dbus.isSignal(message, kManagerService, "DeviceAdded")) {
                if (devicePath.empty()) {
                    AskForDevice(); // the interface's device may be the one added
                }
            } else if (path &&
                       (path == watchedDevice || path == watchedActive || path == watchedProfile)) {
                // Whatever changed (state, connection, metered, a profile's name),
                // the device is asked anew; an answer to an older question is
                // dropped by its serial.
                AskForDeviceProperties();
            }
        }
    }
};

SystemNetworkWatch::SystemNetworkWatch()
    : m_waitSet(::epoll_create1(EPOLL_CLOEXEC)) {
    const auto watch = [&](int descriptor) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = descriptor;
        return descriptor >= 0 && m_waitSet.Valid() &&
               ::epoll_ctl(m_waitSet.Get(), EPOLL_CTL_ADD, descriptor, &event) == 0;
    };
    watch(m_link.ChangesDescriptor());

    // Without a system bus to reach, the library is not even loaded.
    if (!DbusLibrary::SystemBusReachable()) {
        return;
    }
    auto manager = std::make_unique<ManagerFollower>();
    DbusLibrary& dbus = manager->dbus;
    if (!dbus.Load()) {
        return;
    }
    // The questions go out as the loop pumps, after the greeting.
    manager->bus = dbus.OpenSystemBus();
    if (!manager->bus) {
        return;
    }
    dbus.addMatch(manager->bus, DbusLibrary::OwnerChangeRule(kManagerService).c_str(), nullptr);
    dbus.addMatch(manager->bus, kDeviceAddedRule, nullptr);
    manager->ownerRequest = dbus.AskNameOwner(manager->bus, kManagerService);
    dbus.Pump(manager->bus);
    int descriptor = -1;
    if (!m_waitSet.Valid() || !dbus.connectionDescriptor(manager->bus, &descriptor) ||
        !dbus.WatchIn(m_waitSet.Get(), manager->bus)) {
        return;
    }
    m_busDescriptor = descriptor;
    m_manager = std::move(manager);
}

SystemNetworkWatch::~SystemNetworkWatch() = default;

void SystemNetworkWatch::Follow(const std::string& interfaceName) {
    if (interfaceName == m_interfaceName) {
        return;
    }
    m_interfaceName = interfaceName;
    m_linkNetwork = m_link.Find(interfaceName);
    if (m_manager) {
        m_manager->interfaceName = interfaceName;
        m_manager->settled = {};
        m_manager->AskForDevice();
        ChangesReadable();
        return;
    }
    Decide();
}

void SystemNetworkWatch::ChangesReadable() {
    if (m_link.ChangesReadable()) {
        m_linkNetwork = m_link.Find(m_interfaceName);
    }
    if (m_manager && !m_manager->TakeMessages()) {
        // The bus is gone: the kernel alone tells the network from now on.
        ::epoll_ctl(m_waitSet.Get(), EPOLL_CTL_DEL, m_busDescriptor, nullptr);
        m_busDescriptor = -1;
        m_manager.reset();
    }
    Decide();
}

void SystemNetworkWatch::Decide() {
    if (m_manager && m_manager->InCharge()) {
        Network& settled = m_manager->settled;
        if (!settled.Known()) {
            return; // not asked through yet, or between two networks
        }
        // The kernel's identity is taken only while the device is settled: in a
        // switch, the arriving routes must not be pinned on the leaving network.
        if (m_manager->isSettled && m_linkNetwork.Known()) {
            settled.otherId = m_linkNetwork.id;
        }
        m_current = settled;
        return;
    }
    if (!m_linkNetwork.Known()) {
        return; // the one leaving stays until the arriving one is told
    }
    // NetworkManager stopped under a network it had named: the same network still.
    if (m_current.id.rfind("nm:", 0) == 0 && m_current.otherId == m_linkNetwork.id) {
        return;
    }
    m_current = m_linkNetwork;
}

} // namespace quantiro::platform::linux_impl
