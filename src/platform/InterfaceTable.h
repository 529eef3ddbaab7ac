#pragma once

#include <cstddef>
#include <cstdint>

namespace quantiro::platform {

// Result codes of the interface table query, as the reader tells them apart.
inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// The operating system's table of network interfaces, in the shape of GetIfTable:
// called with a null buffer it reports the size the table needs through `size`;
// called with a buffer of that size it fills it (see IfTableLayout.h) and answers 0.
// 50 means the query is not supported at all; any other non-zero answer is a failure.
class InterfaceTable {
public:
    virtual ~InterfaceTable() = default;
    virtual std::uint32_t GetIfTable(std::byte* buffer, std::uint32_t& size, bool order) = 0;
};

} // namespace quantiro::platform
