#include "platform/linux/DbusNotifications.h"

#include "platform/linux/DbusLibrary.h"

namespace quantiro::platform::linux_impl {

namespace {

constexpr int kReplyTimeoutMs = 5000;

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
        // Notify(s app_name, u replaces_id, s app_icon, s summary, s body, as actions,
        //        a{sv} hints, i expire_timeout) -> u id
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
        const auto hint = [&](const char* name, int type, const char* signature,
                              const void* value) {
            DBusMessageIter entry, variant;
            dbus.openContainer(&hints, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            dbus.appendBasic(&entry, DBUS_TYPE_STRING, &name);
            dbus.openContainer(&entry, DBUS_TYPE_VARIANT, signature, &variant);
            dbus.appendBasic(&variant, type, value);
            dbus.closeContainer(&entry, &variant);
            dbus.closeContainer(&hints, &entry);
        };
        const unsigned char urgency = critical ? 2 : 1;
        const char* desktopEntry = "quantiro";
        hint("urgency", DBUS_TYPE_BYTE, "y", &urgency);
        hint("desktop-entry", DBUS_TYPE_STRING, "s", &desktopEntry);
        dbus.closeContainer(&arguments, &hints);
        dbus.appendBasic(&arguments, DBUS_TYPE_INT32, &timeout);

        DBusMessage* reply = dbus.sendWithReply(connection, call, kReplyTimeoutMs, &error);
        dbus_uint32_t id = 0;
        if (reply && dbus.getArgs(reply, &error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID)) {
            number = id;
        }
        if (reply) {
            dbus.messageUnref(reply);
        }
        dbus.messageUnref(call);
    }
    dbus.errorFree(&error);
    dbus.connectionUnref(connection);
    return number;
}

} // namespace quantiro::platform::linux_impl
