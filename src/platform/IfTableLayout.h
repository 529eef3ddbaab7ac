#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Byte layout of the interface table (MIB_IFTABLE of MIB_IFROW rows): a 4-byte row
// count, then fixed 860-byte rows. All numbers are little-endian 32-bit.
namespace quantiro::platform::iftable {

inline constexpr std::size_t kCountSize = 4;
inline constexpr std::size_t kRowSize = 860;

inline constexpr std::size_t kNameChars = 256; // UTF-16 code units
inline constexpr std::size_t kPhysAddrMax = 8;
inline constexpr std::size_t kDescriptionMax = 256;

inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kIndex = 512;
inline constexpr std::size_t kType = 516;
inline constexpr std::size_t kMtu = 520;
inline constexpr std::size_t kSpeed = 524;
inline constexpr std::size_t kPhysAddrLen = 528;
inline constexpr std::size_t kPhysAddr = 532;
inline constexpr std::size_t kAdminStatus = 540;
inline constexpr std::size_t kOperStatus = 544;
inline constexpr std::size_t kLastChange = 548;
inline constexpr std::size_t kInOctets = 552;
inline constexpr std::size_t kInUcastPkts = 556;
inline constexpr std::size_t kInNUcastPkts = 560;
inline constexpr std::size_t kInDiscards = 564;
inline constexpr std::size_t kInErrors = 568;
inline constexpr std::size_t kInUnknownProtos = 572;
inline constexpr std::size_t kOutOctets = 576;
inline constexpr std::size_t kOutUcastPkts = 580;
inline constexpr std::size_t kOutNUcastPkts = 584;
inline constexpr std::size_t kOutDiscards = 588;
inline constexpr std::size_t kOutErrors = 592;
inline constexpr std::size_t kOutQLen = 596;
inline constexpr std::size_t kDescrLen = 600;
inline constexpr std::size_t kDescr = 604;

inline constexpr std::size_t RowOffset(std::size_t position) {
    return kCountSize + (position - 1) * kRowSize;
}

inline constexpr std::size_t TableSize(std::size_t rows) {
    return kCountSize + rows * kRowSize;
}

inline std::uint32_t ReadU32(const std::byte* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
    }
    return value;
}

inline std::int32_t ReadI32(const std::byte* at) {
    return static_cast<std::int32_t>(ReadU32(at));
}

inline void WriteU32(std::byte* at, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::big) {
        value = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
    }
    std::memcpy(at, &value, sizeof value);
}

} // namespace quantiro::platform::iftable
