#include "collector/CgroupOwner.h"

#include "platform/linux/SystemdUnits.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quantiro::collector {

namespace {

using platform::linux_impl::IsUnitName;
using platform::linux_impl::OwnerKind;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t end = std::min(text.find(separator, from), text.size());
        if (end > from) {
            parts.push_back(text.substr(from, end - from));
        }
        from = end + 1;
    }
    return parts;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// systemd writes a '-' inside a name as "\x2d" (and other bytes alike), since '-'
// separates the parts of the unit name. No desktop id, machine or snap has a '/' or a
// control character: a name that unescapes to one ("slash\x2f..\x2fetc") is none.
std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x' &&
            HexDigit(text[at + 2]) >= 0 && HexDigit(text[at + 3]) >= 0) {
            const int byte = HexDigit(text[at + 2]) * 16 + HexDigit(text[at + 3]);
            if (byte == '/' || byte < 0x20 || byte == 0x7f) {
                return std::nullopt;
            }
            out += static_cast<char>(byte);
            at += 3;
        } else {
            out += text[at];
        }
    }
    return out;
}

// What `unit` holds between `prefix` and `suffix`, when it has both and something between.
std::optional<std::string_view> Between(std::string_view unit, std::string_view prefix,
                                        std::string_view suffix) {
    if (unit.size() <= prefix.size() + suffix.size() || !unit.starts_with(prefix) ||
        !unit.ends_with(suffix)) {
        return std::nullopt;
    }
    return unit.substr(prefix.size(), unit.size() - prefix.size() - suffix.size());
}

bool HasDot(std::string_view part) {
    return part.find('.') != std::string_view::npos;
}

// Launchers that name themselves in their units; compared without case ("KDE", "kde").
constexpr auto kLaunchers =
    std::to_array<std::string_view>({"gnome", "kde", "flatpak", "xfce", "cinnamon", "mate", "lxqt",
                                     "budgie", "sway", "hyprland", "niri"});

bool IsKnownLauncher(std::string_view part) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    };
    return std::ranges::any_of(kLaunchers, [&](std::string_view launcher) {
        return std::ranges::equal(part, launcher, {}, lower);
    });
}

// The desktop id of an application unit, after systemd's desktop-environment naming:
//   app[-<launcher>]-<id>[@<RANDOM>].service, app[-<launcher>]-<id>-<RANDOM>.scope
// the id's own dashes escaped; and dbus-broker's "dbus-<unique name>-<bus name>@<n>.service"
// (older versions leave the bus name's dashes unescaped), a bus name being a desktop id.
// RANDOM goes first: a scope's last part, what follows '@', or the last part of a
// service of three parts or more, or of two unless the first is a known launcher or
// the second alone has dots ("app-gnome-firefox.service" and "app-firefox-1.service"
// are both firefox). Of what is left, the last part is the id, any before it the launcher.
std::optional<std::string> DesktopIdOf(std::string_view unit) {
    constexpr std::string_view kScope = ".scope";
    constexpr std::string_view kService = ".service";
    if (const auto activated = Between(unit, "dbus-:", kService)) {
        const std::size_t dash = activated->find('-');
        const std::size_t at = activated->rfind('@');
        if (dash == std::string_view::npos || at == std::string_view::npos || at <= dash + 1) {
            return std::nullopt;
        }
        return Unescape(activated->substr(dash + 1, at - dash - 1));
    }
    const bool scope = unit.ends_with(kScope);
    const auto name = Between(unit, "app-", scope ? kScope : kService);
    if (!name) {
        return std::nullopt;
    }
    const std::size_t at = scope ? std::string_view::npos : name->find('@');
    std::vector<std::string_view> parts = Split(name->substr(0, at), '-');
    const bool randomLast =
        scope || (at == std::string_view::npos &&
                  (parts.size() >= 3 || (parts.size() == 2 && !IsKnownLauncher(parts[0]) &&
                                         (HasDot(parts[0]) || !HasDot(parts[1])))));
    if (randomLast && !parts.empty()) {
        parts.pop_back();
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    return Unescape(parts.back());
}

bool IsContainerId(std::string_view id) {
    return id.size() == 64 && std::ranges::all_of(id, [](char c) { return HexDigit(c) >= 0; });
}

// A container as its engine's own tools name it: "docker 4f1e2d3c4b5a" (the short id
// `docker ps` shows), "podman 4f1e2d3c4b5a", "nspawn <machine>".
std::optional<std::string> ContainerOf(std::string_view parent, std::string_view unit) {
    constexpr std::size_t kShortId = 12;
    if (const auto id = Between(unit, "docker-", ".scope"); id && IsContainerId(*id)) {
        return "docker " + std::string(id->substr(0, kShortId));
    }
    if (const auto id = Between(unit, "libpod-", ".scope"); id && IsContainerId(*id)) {
        return "podman " + std::string(id->substr(0, kShortId));
    }
    if (parent == "machine.slice") {
        auto machine = Between(unit, "machine-", ".scope");
        if (!machine) {
            machine = Between(unit, "systemd-nspawn@", ".service");
        }
        if (const auto name = machine ? Unescape(*machine) : std::nullopt) {
            return "nspawn " + *name;
        }
    }
    return std::nullopt;
}

// snapd's "snap.<snap>.<app>-<uuid>.scope" (older: ".<uuid>.scope", its dashes not
// escaped) -> "<snap>_<app>", the name snapd gives the app's desktop file. A hook's
// scope, "snap.<snap>.hook.<hook>...", is no app.
std::optional<std::string> SnapDesktopIdOf(std::string_view unit) {
    const auto named = Between(unit, "snap.", ".scope");
    const std::vector<std::string_view> parts = Split(named.value_or(""), '.');
    if (parts.size() < 2) {
        return std::nullopt;
    }
    const std::string_view app =
        parts.size() == 2 ? parts[1].substr(0, parts[1].find('-')) : parts[1];
    const auto snap = Unescape(parts[0]);
    const auto unescapedApp = Unescape(app);
    if (app == "hook" || !snap || !unescapedApp) {
        return std::nullopt;
    }
    return *snap + "_" + *unescapedApp;
}

} // namespace

TrafficOwner OwnerOf(std::string_view cgroupPath, std::string_view executable) {
    const std::vector<std::string_view> components = Split(cgroupPath, '/');
    // Outermost first: whatever runs inside a container is the container's traffic. It is
    // a system owner, as a service is, so every user sees it by name.
    for (std::size_t at = 0; at < components.size(); ++at) {
        if (auto name = ContainerOf(at > 0 ? components[at - 1] : "", components[at])) {
            return {.kind = OwnerKind::Unit, .id = std::move(*name)};
        }
    }
    // snapd names no slice for its scopes, so they are looked for outside app.slice too.
    bool inApps = false;
    for (const std::string_view component : components) {
        auto id = SnapDesktopIdOf(component);
        if (!id && inApps) {
            id = DesktopIdOf(component);
        }
        if (id) {
            return {.kind = OwnerKind::App, .id = std::move(*id)};
        }
        inApps = inApps || component == "app.slice";
    }
    if (!components.empty() && components.front() == "system.slice") {
        for (std::size_t inner = components.size(); inner-- > 1;) {
            if (IsUnitName(components[inner])) {
                return {.kind = OwnerKind::Unit, .id = std::string(components[inner])};
            }
        }
    }
    if (executable.empty()) {
        return {.kind = OwnerKind::None};
    }
    return {.kind = OwnerKind::Exe, .id = std::string(executable)};
}

TrafficOwner OwnerOfUnit(std::string_view unit, std::string_view executable) {
    if (auto name = ContainerOf("", unit)) {
        return {.kind = OwnerKind::Unit, .id = std::move(*name)};
    }
    auto id = SnapDesktopIdOf(unit);
    if (!id) {
        id = DesktopIdOf(unit);
    }
    if (id) {
        return {.kind = OwnerKind::App, .id = std::move(*id)};
    }
    return OwnerOf("", executable);
}

} // namespace quantiro::collector
