#include "platform/linux/SystemdUnits.h"

#include "platform/linux/DbusLibrary.h"

#include <algorithm>
#include <array>

namespace quantiro::platform::linux_impl {

namespace {

constexpr int kReplyTimeoutMs = 1000;

constexpr std::array<std::string_view, 7> kUnitSuffixes{".service", ".scope", ".socket", ".mount",
                                                        ".swap",    ".timer", ".target"};

// The bus or systemd cannot answer at all, rather than not about this unit.
constexpr std::array<std::string_view, 5> kUnreachable{
    DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER, DBUS_ERROR_NO_REPLY,
    DBUS_ERROR_TIMEOUT, DBUS_ERROR_DISCONNECTED};

struct MessageUnref {
    const DbusLibrary* dbus;
    void operator()(DBusMessage* message) const { dbus->messageUnref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

} // namespace

bool IsUnitName(std::string_view name) {
    return std::ranges::any_of(kUnitSuffixes, [&](std::string_view suffix) {
        return name.size() > suffix.size() && name.ends_with(suffix);
    });
}

SystemdUnits::SystemdUnits() = default;

SystemdUnits::~SystemdUnits() {
    if (m_connection != nullptr) {
        m_dbus->connectionUnref(m_connection);
    }
}

const std::string& SystemdUnits::DescriptionOf(std::string_view unit) {
    if (const auto known = m_descriptions.find(unit); known != m_descriptions.end()) {
        return known->second;
    }
    const std::string name(unit);
    std::string description = Connect() ? Ask(name) : "";
    if (description == name) {
        description.clear(); // systemd's stand-in for a unit without one
    }
    return m_descriptions.emplace(name, std::move(description)).first->second;
}

bool SystemdUnits::Connect() {
    if (m_connection != nullptr || m_unreachable) {
        return m_connection != nullptr && !m_unreachable;
    }
    m_dbus = std::make_unique<DbusLibrary>();
    if (m_dbus->Load()) {
        DBusError error;
        m_dbus->errorInit(&error);
        m_connection = m_dbus->busGet(DBUS_BUS_SYSTEM, &error);
        m_dbus->errorFree(&error);
    }
    if (m_connection == nullptr) {
        m_unreachable = true;
        return false;
    }
    // A bus gone meanwhile ends the answers, not the program.
    m_dbus->setExitOnDisconnect(m_connection, FALSE);
    return true;
}

std::string SystemdUnits::Ask(const std::string& unit) {
    const DbusLibrary& dbus = *m_dbus;
    // Sends a call with string arguments; its reply, or none.
    const auto call = [&](const char* path, const char* interface, const char* method,
                          std::initializer_list<const char*> arguments) {
        Message request(dbus.newMethodCall("org.freedesktop.systemd1", path, interface, method),
                        {&dbus});
        if (!request) {
            return Message(nullptr, {&dbus});
        }
        DBusMessageIter appended;
        dbus.iterInitAppend(request.get(), &appended);
        for (const char* argument : arguments) {
            dbus.appendBasic(&appended, DBUS_TYPE_STRING, &argument);
        }
        DBusError error;
        dbus.errorInit(&error);
        Message reply(dbus.sendWithReply(m_connection, request.get(), kReplyTimeoutMs, &error),
                      {&dbus});
        if (!reply && error.name != nullptr &&
            std::ranges::find(kUnreachable, std::string_view(error.name)) != kUnreachable.end()) {
            m_unreachable = true;
        }
        dbus.errorFree(&error);
        return reply;
    };

    // LoadUnit, unlike GetUnit, answers for a unit that is not running now.
    const Message loaded = call("/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                                "LoadUnit", {unit.c_str()});
    DBusMessageIter iter;
    if (!loaded || !dbus.iterInit(loaded.get(), &iter) ||
        dbus.iterArgType(&iter) != DBUS_TYPE_OBJECT_PATH) {
        return {};
    }
    const char* path = nullptr;
    dbus.iterGetBasic(&iter, &path);
    const Message property = call(path, DBUS_INTERFACE_PROPERTIES, "Get",
                                  {"org.freedesktop.systemd1.Unit", "Description"});
    DBusMessageIter variant;
    if (!property || !dbus.iterInit(property.get(), &iter) ||
        dbus.iterArgType(&iter) != DBUS_TYPE_VARIANT) {
        return {};
    }
    dbus.iterRecurse(&iter, &variant);
    if (dbus.iterArgType(&variant) != DBUS_TYPE_STRING) {
        return {};
    }
    const char* text = nullptr;
    dbus.iterGetBasic(&variant, &text);
    return text;
}

} // namespace quantiro::platform::linux_impl
