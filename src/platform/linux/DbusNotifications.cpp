#include "platform/linux/DbusNotifications.h"

#include "platform/linux/DbusLibrary.h"

namespace quantiro::platform::linux_impl {

namespace {

constexpr int kReplyTimeoutMs = 5000;

// One entry of the a{sv} hints: a name and a value of one basic type.
void AppendHint(const DbusLibrary& dbus, DBusMessageIter& hints, const char* name, int type,
                const char* signature, const void* value) {
    DBusMessageIter entry, variant;
    dbus.openContainer(&hints, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus.appendBasic(&entry, DBUS_TYPE_STRING, &name);
    dbus.openContainer(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    dbus.appendBasic(&variant, type, value);
    dbus.closeContainer(&entry, &variant);
    dbus.closeContainer(&hints, &entry);
}

// Notify(s app_name, u replaces_id, s app_icon, s summary, s body, as actions,
//        a{sv} hints, i expire_timeout) -> u id
void AppendNotifyArguments(const DbusLibrary& dbus, DBusMessage* call, std::uint32_t replaces,
                           bool critical, const std::string& summary, const std::string& body) {
    const char* application = "Quantiro";
    const char* icon = "quantiro";
    const char* summaryText = summary.c_str();
    const char* bodyText = body.c_str();
    const dbus_int32_t timeout = -1;
    DBusMessageIter arguments, actions, hints;
    dbus.iterInitAppend(call, &arguments);
    dbus.appendBasic(&arguments, DBUS_TYPE_STRING, &application);
    dbus.appendBasic(&arguments, DBUS_TYPE_UINT32, &replaces);
    dbus.appendBasic(&arguments, DBUS_TYPE_STRING, &icon);
    dbus.appendBasic(&arguments, DBUS_TYPE_STRING, &summaryText);
    dbus.appendBasic(&arguments, DBUS_TYPE_STRING, &bodyText);
    dbus.openContainer(&arguments, DBUS_TYPE_ARRAY, "s", &actions);
    dbus.closeContainer(&arguments, &actions);
    dbus.openContainer(&arguments, DBUS_TYPE_ARRAY, "{sv}", &hints);
    const unsigned char urgency = critical ? 2 : 1;
    const char* desktopEntry = "quantiro";
    AppendHint(dbus, hints, "urgency", DBUS_TYPE_BYTE, "y", &urgency);
    AppendHint(dbus, hints, "desktop-entry", DBUS_TYPE_STRING, "s", &desktopEntry);
    dbus.closeContainer(&arguments, &hints);
    dbus.appendBasic(&arguments, DBUS_TYPE_INT32, &timeout);
}

// Sends the call and waits for the service's number; nothing when it does not answer.
std::optional<std::uint32_t> NumberOfReply(const DbusLibrary& dbus, DBusConnection* connection,
                                           DBusMessage* call, DBusError& error) {
    DBusMessage* reply = dbus.sendWithReply(connection, call, kReplyTimeoutMs, &error);
    if (!reply) {
        return std::nullopt;
    }
    dbus_uint32_t id = 0;
    std::optional<std::uint32_t> number;
    if (dbus.getArgs(reply, &error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID)) {
        number = id;
    }
    dbus.messageUnref(reply);
    return number;
}

} // namespace

std::optional<std::uint32_t> SendDesktopNotification(std::uint32_t replaces, bool critical,
                                                     const std::string& summary,
                                                     const std::string& body) {
    DbusLibrary dbus;
    if (!dbus.Load()) {
        return std::nullopt;
    }
    DBusError error;
    dbus.errorInit(&error);
    DBusConnection* connection = dbus.busGet(DBUS_BUS_SESSION, &error);
    if (!connection) {
        dbus.errorFree(&error);
        return std::nullopt;
    }
    DBusMessage* call =
        dbus.newMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify");
    std::optional<std::uint32_t> number;
    if (call) {
        AppendNotifyArguments(dbus, call, replaces, critical, summary, body);
        number = NumberOfReply(dbus, connection, call, error);
        dbus.messageUnref(call);
    }
    dbus.errorFree(&error);
    dbus.connectionUnref(connection);
    return number;
}

} // namespace quantiro::platform::linux_impl
