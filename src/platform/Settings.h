#pragma once

#include "common/SettingsValues.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::platform {

// The store cannot be had or written. Not handled where it happens: it aborts
// whatever called the settings component.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Named values shared with the other programs of the family. A missing value, or
// one that cannot be read as the asked type, reads as the caller's default. Where
// the values live is the implementation's business, given it by the family's paths.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual void WriteLong(std::string_view name, std::int32_t value) = 0;
    virtual void WriteBool(std::string_view name, bool value) = 0;
    virtual std::int32_t ReadLong(std::string_view name, std::int32_t defaultValue) = 0;
    virtual bool ReadBool(std::string_view name, bool defaultValue) = 0;
    // Text as stored, surrounding blanks removed.
    virtual void WriteText(std::string_view name, const std::string& value) = 0;
    virtual std::string ReadText(std::string_view name, const std::string& defaultValue) = 0;
    // The groups below the top level, in no order to rely on. A value in a group is
    // read and written by the name "<group>/<value>".
    virtual std::vector<std::string> Groups() = 0;
    // Removes the group and every value in it; SettingsError when that cannot be written.
    virtual void RemoveGroup(std::string_view group) = 0;
    // Writes again what earlier writes could not (a full disk); true once nothing
    // waits any more.
    virtual bool RetryUnwritten() = 0;

    // For a front-end with an event loop: a descriptor that becomes readable when
    // another program changed the values (-1: none, and each read looks itself). From
    // then on reads leave the changes to the loop, which calls WatchReadable() when it
    // is readable, so a tick's read asks nothing.
    virtual int WatchDescriptorForLoop() { return -1; }
    virtual void WatchReadable() {}
};

// Reads and writes a value of the table in common/SettingsValues.h with its default.
inline bool Read(SettingsStore& settings, const values::BoolValue& value) {
    return settings.ReadBool(value.name, value.defaultValue);
}

inline std::int32_t Read(SettingsStore& settings, const values::LongValue& value) {
    return settings.ReadLong(value.name, value.defaultValue);
}

inline std::string Read(SettingsStore& settings, const values::TextValue& value) {
    return settings.ReadText(value.name, std::string(value.defaultValue));
}

inline void Write(SettingsStore& settings, const values::BoolValue& value, bool data) {
    settings.WriteBool(value.name, data);
}

inline void Write(SettingsStore& settings, const values::LongValue& value, std::int32_t data) {
    settings.WriteLong(value.name, data);
}

} // namespace quantiro::platform
