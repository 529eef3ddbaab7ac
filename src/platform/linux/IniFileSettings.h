#pragma once

#include "platform/Settings.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace quantiro::platform::linux_impl {

// The family's settings file read once, without Qt, for a program that starts
// often and only reads (the limit watcher). It reads what IniSettingsStore
// wrote exactly as that component reads it back; it never writes.
class IniFileSettings final : public SettingsStore {
public:
    explicit IniFileSettings(const std::string& filePath);

    void WriteLong(std::string_view name, std::int32_t value) override;
    void WriteBool(std::string_view name, bool value) override;
    void WriteText(std::string_view name, const std::string& value) override;
    std::int32_t ReadLong(std::string_view name, std::int32_t defaultValue) override;
    bool ReadBool(std::string_view name, bool defaultValue) override;
    std::string ReadText(std::string_view name, const std::string& defaultValue) override;
    std::vector<std::string> Groups() override { return m_groups; }
    void RemoveGroup(std::string_view group) override;
    bool RetryUnwritten() override { return true; } // it never writes

private:
    const std::string* Find(std::string_view name) const;

    std::unordered_map<std::string, std::string> m_values;
    std::vector<std::string> m_groups;
};

} // namespace quantiro::platform::linux_impl
