#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Network prefixes as the user writes them in "SiecLokalna" ("192.168.7.0/24,
// fd12::/16"), read the same way by the options program that checks them and the
// counting service that uses them.
namespace quantiro::prefixes {

// An address prefix, IPv4 as IPv4-mapped IPv6 (::ffff:a.b.c.d), with the bits past
// the prefix length zero.
struct IpPrefix {
    std::array<std::uint8_t, 16> address{};
    std::uint8_t length = 0; // 0..128
    auto operator<=>(const IpPrefix&) const = default;
};

// A user's own local prefixes at most.
inline constexpr std::size_t kLimit = 64;

// "192.168.1.0/24", "fd00::/8", or an address alone (the host).
std::optional<IpPrefix> Parse(std::string_view text);

// Prefixes separated by commas (blanks around each allowed; empty: none), or
// why not, in Polish, naming the first bad one by its position.
std::variant<std::vector<IpPrefix>, std::string> ParseList(std::string_view text);

} // namespace quantiro::prefixes
