#include "platform/linux/SleepWatch.h"

#include "platform/linux/DbusLibrary.h"
#include "platform/linux/UniqueFd.h"

#include <cstdlib>

#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

constexpr const char* kSystemBusSocket = "/run/dbus/system_bus_socket";
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
// Any sender may emit this; a false announcement costs one early save, no more.
constexpr const char* kSleepSignalRule =
    "type='signal',interface='org.freedesktop.login1.Manager',member='PrepareForSleep',"
    "path='/org/freedesktop/login1'";

} // namespace

struct SleepWatch::Connection {
    DbusLibrary dbus;
    DBusConnection* bus = nullptr;
    dbus_uint32_t lockRequest = 0; // serial of the unanswered Inhibit call, 0: none
    UniqueFd lock;

    ~Connection() {
        if (bus) {
            dbus.connectionClose(bus);
            dbus.connectionUnref(bus);
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
        dbus.flush(bus);
    }

    void TakeAnswer(DBusMessage* answer) {
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
};

SleepWatch::SleepWatch() {
    // Without a system bus to reach, the library is not even loaded.
    if (!std::getenv("DBUS_SYSTEM_BUS_ADDRESS") && ::access(kSystemBusSocket, F_OK) != 0) {
        return;
    }
    auto connection = std::make_unique<Connection>();
    if (!connection->dbus.Load()) {
        return;
    }
    DbusLibrary& dbus = connection->dbus;
    DBusError error;
    dbus.errorInit(&error);
    // A private connection: nobody else in the process reads its messages, and the
    // bus going away must not end the meter, as a shared one would by default.
    connection->bus = dbus.busGetPrivate(DBUS_BUS_SYSTEM, &error);
    if (!connection->bus) {
        dbus.errorFree(&error);
        return;
    }
    dbus.setExitOnDisconnect(connection->bus, false);
    dbus.addMatch(connection->bus, kSleepSignalRule, nullptr); // sent, not waited for
    connection->AskForLock();
    dbus.errorFree(&error);
    m_bus = std::move(connection);
}

SleepWatch::~SleepWatch() = default;

int SleepWatch::Descriptor() const {
    int descriptor = -1;
    if (!m_bus || !m_bus->dbus.connectionDescriptor(m_bus->bus, &descriptor)) {
        return -1;
    }
    return descriptor;
}

bool SleepWatch::Readable(const std::function<void()>& beforeSleep) {
    if (!m_bus) {
        return false;
    }
    DbusLibrary& dbus = m_bus->dbus;
    dbus.readWrite(m_bus->bus, 0);
    while (DBusMessage* message = dbus.popMessage(m_bus->bus)) {
        if (dbus.isSignal(message, kLogindManager, "PrepareForSleep")) {
            DBusError error;
            dbus.errorInit(&error);
            dbus_bool_t sleeping = false;
            if (dbus.getArgs(message, &error, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID)) {
                if (sleeping) {
                    beforeSleep();
                    m_bus->lock.Reset(); // the save is done: the system may sleep
                } else if (!m_bus->lock.Valid() && m_bus->lockRequest == 0) {
                    m_bus->AskForLock();
                }
            }
            dbus.errorFree(&error);
        } else if (m_bus->lockRequest != 0 && dbus.replySerial(message) == m_bus->lockRequest) {
            m_bus->TakeAnswer(message);
        }
        dbus.messageUnref(message);
    }
    if (!dbus.isConnected(m_bus->bus)) {
        m_bus.reset();
        return false;
    }
    return true;
}

} // namespace quantiro::platform::linux_impl
