#pragma once

#include <functional>
#include <string>

#include <dbus/dbus.h>

namespace quantiro::platform::linux_impl {

// The calls of libdbus-1 the family needs, looked up in the library loaded at run
// time: a program that never speaks to a bus never maps it.
struct DbusLibrary {
    // The bus's own name and interface, whose NameOwnerChanged tells of a service.
    static constexpr const char* kBusName = "org.freedesktop.DBus";

    decltype(&dbus_error_init) errorInit = nullptr;
    decltype(&dbus_error_free) errorFree = nullptr;
    decltype(&dbus_bus_get) busGet = nullptr;
    decltype(&dbus_connection_open_private) openPrivate = nullptr;
    decltype(&dbus_bus_add_match) addMatch = nullptr;
    decltype(&dbus_connection_set_exit_on_disconnect) setExitOnDisconnect = nullptr;
    decltype(&dbus_connection_get_unix_fd) connectionDescriptor = nullptr;
    decltype(&dbus_connection_get_is_connected) isConnected = nullptr;
    decltype(&dbus_connection_read_write) readWrite = nullptr;
    decltype(&dbus_connection_pop_message) popMessage = nullptr;
    decltype(&dbus_connection_send) send = nullptr;
    decltype(&dbus_connection_has_messages_to_send) hasMessagesToSend = nullptr;
    decltype(&dbus_connection_close) connectionClose = nullptr;
    decltype(&dbus_connection_unref) connectionUnref = nullptr;
    decltype(&dbus_message_new_method_call) newMethodCall = nullptr;
    decltype(&dbus_message_is_signal) isSignal = nullptr;
    decltype(&dbus_message_get_type) messageType = nullptr;
    decltype(&dbus_message_get_reply_serial) replySerial = nullptr;
    decltype(&dbus_message_get_sender) sender = nullptr;
    decltype(&dbus_message_has_path) hasPath = nullptr;
    decltype(&dbus_message_unref) messageUnref = nullptr;
    decltype(&dbus_message_iter_init_append) iterInitAppend = nullptr;
    decltype(&dbus_message_iter_append_basic) appendBasic = nullptr;
    decltype(&dbus_message_iter_open_container) openContainer = nullptr;
    decltype(&dbus_message_iter_close_container) closeContainer = nullptr;
    decltype(&dbus_connection_send_with_reply_and_block) sendWithReply = nullptr;
    decltype(&dbus_message_get_args) getArgs = nullptr;
    decltype(&dbus_bus_remove_match) removeMatch = nullptr;
    decltype(&dbus_message_get_path) messagePath = nullptr;
    decltype(&dbus_message_iter_init) iterInit = nullptr;
    decltype(&dbus_message_iter_get_arg_type) iterArgType = nullptr;
    decltype(&dbus_message_iter_get_basic) iterGetBasic = nullptr;
    decltype(&dbus_message_iter_recurse) iterRecurse = nullptr;
    decltype(&dbus_message_iter_next) iterNext = nullptr;
    decltype(&dbus_connection_set_watch_functions) setWatchFunctions = nullptr;
    decltype(&dbus_watch_get_flags) watchFlags = nullptr;
    decltype(&dbus_watch_get_enabled) watchEnabled = nullptr;

    // False when the library or one of its calls is missing.
    bool Load();

    // Queues a method call with at most one text argument, without waiting for it to
    // go out or be answered; 0 when it could not even be queued.
    dbus_uint32_t QueueCall(DBusConnection* bus, const char* service, const char* path,
                            const char* interface, const char* member, const char* argument) const;
    // Whether a system bus may be there to reach: its address is given, or its
    // socket exists. Checked before the library is even loaded.
    static bool SystemBusReachable();
    // A private connection to the system bus, opened without the library's blocking
    // registration (a bus that accepts and never answers must not hold a program's
    // start): the greeting is queued and goes out as the caller's loop pumps. The bus
    // going away never ends the program. Nullptr when it cannot be opened. One such
    // connection per DbusLibrary: it follows that connection's wish to write.
    DBusConnection* OpenSystemBus();
    // Closes a private connection and lets it go.
    void ClosePrivate(DBusConnection* bus) const;

    // Reads what came and writes what waits, without ever blocking: a few rounds, or
    // fewer once the library has nothing left to write (its part of the greeting
    // included). What is left waits for the descriptor to be writable (WatchIn): the
    // greeting's last line or a queued call left unsent would otherwise wait for an
    // answer that never comes.
    void Pump(DBusConnection* bus) const;
    // Pumps and hands every message read to `take`, until a pump brings none: sending
    // reads too, so the library may hold messages the descriptor no longer announces.
    // A bus flooding past a bound of rounds is read on from the next wake. The message
    // is let go after `take`. Then updates the wait set WatchIn put the connection in.
    // False once the bus is gone.
    bool TakeMessages(DBusConnection* bus, const std::function<void(DBusMessage*)>& take);
    // Puts the connection's descriptor in the epoll set `waitSet`, or updates it there:
    // readable always, writable while the library has something the socket did not
    // take. False when the descriptor cannot be watched.
    bool WatchIn(int waitSet, DBusConnection* bus);
    // Whether the message is the bus's own announcement that a name changed owner (one
    // anyone else could send too, to all or to us alone, is not).
    bool IsOwnerChange(DBusMessage* message) const;
    // Queues the question who owns `name` now; its answer's serial, 0 when not queued.
    dbus_uint32_t AskNameOwner(DBusConnection* bus, const char* name) const;
    // The match rule of the bus's announcements that `name` changed owner.
    static std::string OwnerChangeRule(const char* name);

private:
    // The library keeps a read watch and a write watch on the socket and enables the
    // write one exactly while it has bytes to send: only that one is followed, since
    // the descriptor is always watched for reading.
    static dbus_bool_t AddWatch(DBusWatch* watch, void* library);
    static void RemoveWatch(DBusWatch* watch, void* library);
    bool WantsToWrite() const;

    DBusWatch* m_writeWatch = nullptr;
    int m_waitSet = -1; // where WatchIn put the descriptor
    bool m_watchingWrites = false;
};

} // namespace quantiro::platform::linux_impl
