#include "platform/linux/GioDesktopEntries.h"

#include "common/ApplicationNames.h"

#include <memory>

#include <gio/gdesktopappinfo.h>

namespace quantiro::platform::linux_impl {

namespace {

// A program with no entry of its own: a system service, or a plain executable.
constexpr const char* kServiceIcon = "applications-system";
constexpr const char* kProgramIcon = "application-x-executable";
constexpr const char* kOtherUsersIcon = "system-users";
constexpr const char* kUnattributedIcon = "network-wired";

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct TextFree {
    void operator()(gchar* text) const { g_free(text); }
};
using Text = std::unique_ptr<gchar, TextFree>;

// The entry's Name in Polish, else its plain Name; empty when the file has none.
std::string PolishName(const char* path) {
    const std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
    // Without KEEP_TRANSLATIONS only the process locale's names would be loaded.
    if (path == nullptr ||
        !g_key_file_load_from_file(file.get(), path, G_KEY_FILE_KEEP_TRANSLATIONS, nullptr)) {
        return {};
    }
    const Text name(g_key_file_get_locale_string(file.get(), G_KEY_FILE_DESKTOP_GROUP,
                                                 G_KEY_FILE_DESKTOP_KEY_NAME, "pl", nullptr));
    return name ? name.get() : "";
}

ApplicationLook EntryLook(const std::string& desktopId) {
    const std::unique_ptr<GDesktopAppInfo, ObjectUnref> entry(
        g_desktop_app_info_new(desktopId.c_str()));
    const std::string bareName =
        desktopId.substr(0, desktopId.size() - applications::kDesktopSuffix.size());
    if (!entry) {
        return {bareName, kProgramIcon};
    }
    ApplicationLook look{PolishName(g_desktop_app_info_get_filename(entry.get())), kProgramIcon};
    if (look.name.empty()) {
        look.name = bareName;
    }
    if (GIcon* icon = g_app_info_get_icon(G_APP_INFO(entry.get()))) {
        if (const Text text(g_icon_to_string(icon)); text) {
            look.icon = text.get();
        }
        // A theme icon of several names is written ". GThemedIcon first second ...";
        // the first is the entry's own.
        if (constexpr std::string_view kSeveral = ". GThemedIcon ";
            look.icon.starts_with(kSeveral)) {
            look.icon = look.icon.substr(kSeveral.size());
            look.icon = look.icon.substr(0, look.icon.find(' '));
        }
    }
    return look;
}

} // namespace

const ApplicationLook& GioDesktopEntries::Look(std::string_view application) {
    if (const auto known = m_looks.find(application); known != m_looks.end()) {
        return known->second;
    }
    const std::string name(application);
    ApplicationLook look;
    if (application == applications::kOtherUsers) {
        look = {name, kOtherUsersIcon};
    } else if (application == applications::kUnattributed) {
        look = {name, kUnattributedIcon};
    } else if (application.ends_with(applications::kDesktopSuffix) &&
               application.size() > applications::kDesktopSuffix.size()) {
        look = EntryLook(name);
    } else {
        look = {name, application.ends_with(".service") ? kServiceIcon : kProgramIcon};
        if (m_units != nullptr && IsUnitName(application)) {
            if (const std::string& description = m_units->DescriptionOf(application);
                !description.empty()) {
                look.name += " (" + description + ")";
            }
        }
    }
    return m_looks.emplace(name, std::move(look)).first->second;
}

} // namespace quantiro::platform::linux_impl
