#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quantiro::platform {

inline constexpr std::uint32_t kHkeyCurrentUser = 0x80000001;
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002;

// The store cannot be written (or its key was never chosen). Not handled where it
// happens: it aborts whatever called the settings component.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Named values shared with the other programs of the family. A missing value, or
// one that cannot be read as the asked type, reads as the caller's default.
class RegistrySettings {
public:
    virtual ~RegistrySettings() = default;
    virtual void SetRootKey(std::uint32_t root) = 0;
    virtual void SetKeyPath(const std::string& path) = 0;
    virtual void WriteLong(std::string_view name, std::int32_t value) = 0;
    virtual void WriteBool(std::string_view name, bool value) = 0;
    virtual std::int32_t ReadLong(std::string_view name, std::int32_t defaultValue) = 0;
    virtual bool ReadBool(std::string_view name, bool defaultValue) = 0;
};

} // namespace quantiro::platform
