#include "platform/linux/SleepWatch.h"

#include "platform/linux/DbusLibrary.h"
#include "platform/linux/UniqueFd.h"

#include <cstdlib>
#include <string>

#include <sys/epoll.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kSleepSignalRule =
    "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.login1.Manager',"
    "member='PrepareForSleep',path='/org/freedesktop/login1'";

} // namespace

struct SleepWatch::Connection {
    DbusLibrary dbus;
    DBusConnection* bus = nullptr;
    // The loop's descriptor: the bus's, readable or, while something waits to be
    // written, writable.
    UniqueFd waitSet{::epoll_create1(EPOLL_CLOEXEC)};
    dbus_uint32_t lockRequest = 0;  // serial of the unanswered Inhibit call, 0: none
    dbus_uint32_t ownerRequest = 0; // serial of the unanswered GetNameOwner call
    // The unique name logind has on the bus now: only its announcements count, since
    // any other program may send a signal of the same name, to all or to us alone.
    std::string logindOwner;
    UniqueFd lock;

    ~Connection() {
        if (bus) {
            dbus.ClosePrivate(bus);
        }
    }

    void AskForLock() {
        DBusMessage* call =
            dbus.newMethodCall(kLogindService, kLogindPath, kLogindManager, "Inhibit");
        if (!call) {
            return;
        }
        const char* what = "sleep";
        const char* who = "Quantiro";
        const char* why = "Zapis bieżącej godziny przed uśpieniem";
        const char* mode = "delay";
        DBusMessageIter arguments;
        dbus.iterInitAppend(call, &arguments);
        for (const char* text : {what, who, why, mode}) {
            dbus.appendBasic(&arguments, DBUS_TYPE_STRING, &text);
        }
        if (!dbus.send(bus, call, &lockRequest)) {
            lockRequest = 0;
        }
        dbus.messageUnref(call);
    }

    bool FromLogind(DBusMessage* message) const {
        const char* from = dbus.sender(message);
        return from && !logindOwner.empty() && logindOwner == from &&
               dbus.hasPath(message, kLogindPath);
    }

    // A string argument list's `index`-th entry, or empty.
    std::string StringArgument(DBusMessage* message, int index) const {
        DBusError error;
        dbus.errorInit(&error);
        const char* texts[3] = {"", "", ""};
        bool read = false;
        if (index == 0) {
            read = dbus.getArgs(message, &error, DBUS_TYPE_STRING, &texts[0], DBUS_TYPE_INVALID);
        } else {
            read = dbus.getArgs(message, &error, DBUS_TYPE_STRING, &texts[0], DBUS_TYPE_STRING,
                                &texts[1], DBUS_TYPE_STRING, &texts[2], DBUS_TYPE_INVALID);
        }
        dbus.errorFree(&error);
        return read ? texts[index] : std::string();
    }

    void TakeLock(DBusMessage* answer) {
        lockRequest = 0;
        if (dbus.messageType(answer) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
            return; // no logind: the announcements may still come, without a wait
        }
        DBusError error;
        dbus.errorInit(&error);
        int descriptor = -1;
        if (dbus.getArgs(answer, &error, DBUS_TYPE_UNIX_FD, &descriptor, DBUS_TYPE_INVALID)) {
            lock.Reset(descriptor);
        }
        dbus.errorFree(&error);
    }

    // logind started anew holds none of the old one's locks: ask the new one.
    void OwnerChanged(std::string owner) {
        logindOwner = std::move(owner);
        lock.Reset();
        if (!logindOwner.empty() && lockRequest == 0) {
            AskForLock();
        }
    }

    void Take(DBusMessage* message, const std::function<void()>& beforeSleep) {
        const dbus_uint32_t answers = dbus.replySerial(message);
        if (dbus.isSignal(message, kLogindManager, "PrepareForSleep") && FromLogind(message)) {
            DBusError error;
            dbus.errorInit(&error);
            dbus_bool_t sleeping = false;
            if (dbus.getArgs(message, &error, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID)) {
                if (sleeping) {
                    beforeSleep();
                    lock.Reset(); // the save is done: the system may sleep
                } else if (!lock.Valid() && lockRequest == 0) {
                    AskForLock();
                }
            }
            dbus.errorFree(&error);
        } else if (dbus.IsOwnerChange(message)) {
            if (StringArgument(message, 0) == kLogindService) {
                OwnerChanged(StringArgument(message, 2));
            }
        } else if (ownerRequest != 0 && answers == ownerRequest) {
            ownerRequest = 0;
            logindOwner = dbus.messageType(message) == DBUS_MESSAGE_TYPE_METHOD_RETURN
                              ? StringArgument(message, 0)
                              : std::string();
        } else if (lockRequest != 0 && answers == lockRequest) {
            TakeLock(message);
        }
    }
};

SleepWatch::SleepWatch() {
    // Without a system bus to reach, the library is not even loaded.
    if (!DbusLibrary::SystemBusReachable()) {
        return;
    }
    auto connection = std::make_unique<Connection>();
    if (!connection->dbus.Load()) {
        return;
    }
    DbusLibrary& dbus = connection->dbus;
    // The rules and the lock are queued too, and go out as the loop pumps.
    connection->bus = dbus.OpenSystemBus();
    if (!connection->bus) {
        return;
    }
    // sent, not waited for
    dbus.addMatch(connection->bus, DbusLibrary::OwnerChangeRule(kLogindService).c_str(), nullptr);
    dbus.addMatch(connection->bus, kSleepSignalRule, nullptr);
    connection->ownerRequest = dbus.AskNameOwner(connection->bus, kLogindService);
    connection->AskForLock();
    dbus.Pump(connection->bus);
    if (!connection->waitSet.Valid() || !dbus.WatchIn(connection->waitSet.Get(), connection->bus)) {
        return;
    }
    m_bus = std::move(connection);
}

SleepWatch::~SleepWatch() = default;

int SleepWatch::Descriptor() const {
    return m_bus ? m_bus->waitSet.Get() : -1;
}

bool SleepWatch::Readable(const std::function<void()>& beforeSleep) {
    if (!m_bus) {
        return false;
    }
    Connection& c = *m_bus;
    // A lock asked for while taking goes out with the next pump, or when writable.
    if (!c.dbus.TakeMessages(c.bus, [&](DBusMessage* message) { c.Take(message, beforeSleep); })) {
        m_bus.reset();
        return false;
    }
    return true;
}

} // namespace quantiro::platform::linux_impl
