#include "platform/linux/DbusLibrary.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <dlfcn.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

bool DbusLibrary::Load() {
    void* library = ::dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        return false;
    }
    bool complete = true;
    const auto take = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
        complete = complete && function != nullptr;
    };
    take(errorInit, "dbus_error_init");
    take(errorFree, "dbus_error_free");
    take(busGet, "dbus_bus_get");
    take(openPrivate, "dbus_connection_open_private");
    take(addMatch, "dbus_bus_add_match");
    take(setExitOnDisconnect, "dbus_connection_set_exit_on_disconnect");
    take(connectionDescriptor, "dbus_connection_get_unix_fd");
    take(isConnected, "dbus_connection_get_is_connected");
    take(readWrite, "dbus_connection_read_write");
    take(popMessage, "dbus_connection_pop_message");
    take(send, "dbus_connection_send");
    take(hasMessagesToSend, "dbus_connection_has_messages_to_send");
    take(connectionClose, "dbus_connection_close");
    take(connectionUnref, "dbus_connection_unref");
    take(newMethodCall, "dbus_message_new_method_call");
    take(isSignal, "dbus_message_is_signal");
    take(messageType, "dbus_message_get_type");
    take(replySerial, "dbus_message_get_reply_serial");
    take(sender, "dbus_message_get_sender");
    take(hasPath, "dbus_message_has_path");
    take(messageUnref, "dbus_message_unref");
    take(iterInitAppend, "dbus_message_iter_init_append");
    take(appendBasic, "dbus_message_iter_append_basic");
    take(openContainer, "dbus_message_iter_open_container");
    take(closeContainer, "dbus_message_iter_close_container");
    take(sendWithReply, "dbus_connection_send_with_reply_and_block");
    take(getArgs, "dbus_message_get_args");
    take(removeMatch, "dbus_bus_remove_match");
    take(messagePath, "dbus_message_get_path");
    take(iterInit, "dbus_message_iter_init");
    take(iterArgType, "dbus_message_iter_get_arg_type");
    take(iterGetBasic, "dbus_message_iter_get_basic");
    take(iterRecurse, "dbus_message_iter_recurse");
    take(iterNext, "dbus_message_iter_next");
    take(setWatchFunctions, "dbus_connection_set_watch_functions");
    take(watchFlags, "dbus_watch_get_flags");
    take(watchEnabled, "dbus_watch_get_enabled");
    return complete;
}

dbus_uint32_t DbusLibrary::QueueCall(DBusConnection* bus, const char* service, const char* path,
                                     const char* interface, const char* member,
                                     const char* argument) const {
    DBusMessage* call = newMethodCall(service, path, interface, member);
    if (!call) {
        return 0;
    }
    if (argument) {
        DBusMessageIter arguments;
        iterInitAppend(call, &arguments);
        appendBasic(&arguments, DBUS_TYPE_STRING, &argument);
    }
    dbus_uint32_t serial = 0;
    if (!send(bus, call, &serial)) {
        serial = 0;
    }
    messageUnref(call);
    return serial;
}

bool DbusLibrary::SystemBusReachable() {
    return std::getenv("DBUS_SYSTEM_BUS_ADDRESS") != nullptr ||
           ::access("/run/dbus/system_bus_socket", F_OK) == 0;
}

namespace {

constexpr const char* kBusPath = "/org/freedesktop/DBus";
// Rounds of non-blocking reading and writing per pump; what is left to write then
// waits for the descriptor to be writable.
constexpr int kIoRounds = 8;
// Rounds of pumping and handling per wake.
constexpr int kTakeRounds = 64;

} // namespace

DBusConnection* DbusLibrary::OpenSystemBus() {
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    DBusError error;
    errorInit(&error);
    DBusConnection* bus =
        openPrivate(address ? address : "unix:path=/run/dbus/system_bus_socket", &error);
    errorFree(&error);
    if (bus) {
        setExitOnDisconnect(bus, false);
        setWatchFunctions(bus, &DbusLibrary::AddWatch, &DbusLibrary::RemoveWatch, nullptr, this,
                          nullptr);
        QueueCall(bus, kBusName, kBusPath, kBusName, "Hello", nullptr);
    }
    return bus;
}

void DbusLibrary::ClosePrivate(DBusConnection* bus) const {
    connectionClose(bus);
    connectionUnref(bus);
}

dbus_bool_t DbusLibrary::AddWatch(DBusWatch* watch, void* library) {
    auto* self = static_cast<DbusLibrary*>(library);
    if (self->watchFlags(watch) & DBUS_WATCH_WRITABLE) {
        self->m_writeWatch = watch;
    }
    return TRUE;
}

void DbusLibrary::RemoveWatch(DBusWatch* watch, void* library) {
    auto* self = static_cast<DbusLibrary*>(library);
    if (self->m_writeWatch == watch) {
        self->m_writeWatch = nullptr;
    }
}

bool DbusLibrary::WantsToWrite() const {
    return m_writeWatch != nullptr && watchEnabled(m_writeWatch);
}

void DbusLibrary::Pump(DBusConnection* bus) const {
    for (int round = 0; round < kIoRounds; ++round) {
        readWrite(bus, 0);
        if (!WantsToWrite()) {
            return;
        }
    }
}

bool DbusLibrary::TakeMessages(DBusConnection* bus, const std::function<void(DBusMessage*)>& take) {
    for (int round = 0; round < kTakeRounds; ++round) {
        Pump(bus);
        bool taken = false;
        while (DBusMessage* message = popMessage(bus)) {
            taken = true;
            take(message);
            messageUnref(message);
        }
        if (!taken) {
            break;
        }
    }
    return isConnected(bus) && (m_waitSet < 0 || WatchIn(m_waitSet, bus));
}

bool DbusLibrary::WatchIn(int waitSet, DBusConnection* bus) {
    int descriptor = -1;
    if (!connectionDescriptor(bus, &descriptor)) {
        return false;
    }
    const bool writes = WantsToWrite();
    if (waitSet == m_waitSet && writes == m_watchingWrites) {
        return true; // a quiet wake asks nothing more of the kernel
    }
    epoll_event event{};
    event.events = EPOLLIN | (writes ? EPOLLOUT : 0U);
    event.data.fd = descriptor;
    if (::epoll_ctl(waitSet, waitSet == m_waitSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, descriptor,
                    &event) != 0) {
        return false;
    }
    m_waitSet = waitSet;
    m_watchingWrites = writes;
    return true;
}

bool DbusLibrary::IsOwnerChange(DBusMessage* message) const {
    const char* from = sender(message);
    return isSignal(message, kBusName, "NameOwnerChanged") && from &&
           std::strcmp(from, kBusName) == 0;
}

dbus_uint32_t DbusLibrary::AskNameOwner(DBusConnection* bus, const char* name) const {
    return QueueCall(bus, kBusName, kBusPath, kBusName, "GetNameOwner", name);
}

std::string DbusLibrary::OwnerChangeRule(const char* name) {
    return std::string("type='signal',sender='") + kBusName + "',interface='" + kBusName +
           "',member='NameOwnerChanged',arg0='" + name + "'";
}

} // namespace quantiro::platform::linux_impl
