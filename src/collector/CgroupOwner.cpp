#include "collector/CgroupOwner.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quantiro::collector {

namespace {

using platform::linux_impl::OwnerKind;

constexpr std::array kUnitSuffixes{".service", ".scope", ".socket", ".mount",
                                   ".swap",    ".timer", ".target"};

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

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
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
// separates the parts of the unit name.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x' &&
            HexDigit(text[at + 2]) >= 0 && HexDigit(text[at + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[at + 2]) * 16 + HexDigit(text[at + 3]));
            at += 3;
        } else {
            out += text[at];
        }
    }
    return out;
}

// "app-gnome-org.gnome.Terminal-4711.scope" -> "org.gnome.Terminal".
std::optional<std::string> DesktopIdOf(std::string_view unit) {
    constexpr std::string_view kScope = ".scope";
    constexpr std::string_view kService = ".service";
    if (!unit.starts_with("app-")) {
        return std::nullopt;
    }
    std::vector<std::string_view> parts;
    if (unit.ends_with(kScope)) {
        parts = Split(unit.substr(4, unit.size() - 4 - kScope.size()), '-');
        if (parts.size() < 2 || !AllDigits(parts.back())) {
            return std::nullopt;
        }
        parts.pop_back();
    } else if (unit.ends_with(kService)) {
        std::string_view name = unit.substr(4, unit.size() - 4 - kService.size());
        name = name.substr(0, name.find('@'));
        parts = Split(name, '-');
    } else {
        return std::nullopt;
    }
    // [<launcher>-]<desktop id>: the id's own dashes are escaped.
    if (parts.empty() || parts.size() > 2) {
        return std::nullopt;
    }
    return Unescape(parts.back());
}

bool IsUnit(std::string_view component) {
    for (const std::string_view suffix : kUnitSuffixes) {
        if (component.ends_with(suffix) && component.size() > suffix.size()) {
            return true;
        }
    }
    return false;
}

} // namespace

TrafficOwner OwnerOf(std::string_view cgroupPath, std::string_view executable) {
    const std::vector<std::string_view> components = Split(cgroupPath, '/');
    for (std::size_t at = 0; at < components.size(); ++at) {
        if (components[at] != "app.slice") {
            continue;
        }
        for (std::size_t inner = at + 1; inner < components.size(); ++inner) {
            if (auto id = DesktopIdOf(components[inner])) {
                return {.kind = OwnerKind::App, .id = std::move(*id)};
            }
        }
    }
    if (!components.empty() && components.front() == "system.slice") {
        for (std::size_t inner = components.size(); inner-- > 1;) {
            if (IsUnit(components[inner])) {
                return {.kind = OwnerKind::Unit, .id = std::string(components[inner])};
            }
        }
    }
    if (executable.empty()) {
        return {.kind = OwnerKind::None};
    }
    return {.kind = OwnerKind::Exe, .id = std::string(executable)};
}

} // namespace quantiro::collector
