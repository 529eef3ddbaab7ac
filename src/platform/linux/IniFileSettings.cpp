#include "platform/linux/IniFileSettings.h"

#include "common/FamilyPaths.h"
#include "common/StoredValues.h"
#include "platform/Files.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace quantiro::platform::linux_impl {

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// A value as the INI file holds it: in quotes, with its escapes undone; a bare
// comma makes a list, which stands where one value belongs and so reads as missing.
std::optional<std::string> Value(const std::string& raw) {
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        std::string value;
        for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 2 < raw.size()) {
                ++i;
            }
            value += raw[i];
        }
        return Trimmed(value);
    }
    if (raw.find(',') != std::string::npos || raw.find('"') != std::string::npos) {
        return std::nullopt;
    }
    return raw;
}

} // namespace

IniFileSettings::IniFileSettings(const std::string& filePath) {
    const std::string text = platform::ReadFileWhole(filePath);
    // The top level's values stand in [General]; a group's as "<group>/<value>".
    std::optional<std::string> group;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::string trimmed = Trimmed(line);
        if (!trimmed.empty() && trimmed.front() == '[' && trimmed.back() == ']') {
            const std::string name = trimmed.substr(1, trimmed.size() - 2);
            group = name == "General" ? "" : name + "/";
            if (name != "General" &&
                std::find(m_groups.begin(), m_groups.end(), name) == m_groups.end()) {
                m_groups.push_back(name);
            }
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (!group || equals == std::string::npos) {
            continue;
        }
        if (const auto value = Value(Trimmed(trimmed.substr(equals + 1)))) {
            m_values[*group + Trimmed(trimmed.substr(0, equals))] = *value;
        }
    }
}

const std::string* IniFileSettings::Find(std::string_view name) const {
    const auto found = m_values.find(std::string(name));
    return found == m_values.end() ? nullptr : &found->second;
}

void IniFileSettings::WriteLong(std::string_view, std::int32_t) {
    throw SettingsError("Te ustawienia są tylko do odczytu.");
}

void IniFileSettings::WriteBool(std::string_view, bool) {
    throw SettingsError("Te ustawienia są tylko do odczytu.");
}

void IniFileSettings::WriteText(std::string_view, const std::string&) {
    throw SettingsError("Te ustawienia są tylko do odczytu.");
}

void IniFileSettings::RemoveGroup(std::string_view) {
    throw SettingsError("Te ustawienia są tylko do odczytu.");
}

std::int32_t IniFileSettings::ReadLong(std::string_view name, std::int32_t defaultValue) {
    const std::string* text = Find(name);
    return text ? ParseStoredLong(*text).value_or(defaultValue) : defaultValue;
}

bool IniFileSettings::ReadBool(std::string_view name, bool defaultValue) {
    const std::string* text = Find(name);
    return text ? ParseStoredBool(*text).value_or(defaultValue) : defaultValue;
}

std::string IniFileSettings::ReadText(std::string_view name, const std::string& defaultValue) {
    const std::string* text = Find(name);
    return text ? *text : defaultValue;
}

} // namespace quantiro::platform::linux_impl
