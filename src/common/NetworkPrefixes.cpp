#include "common/NetworkPrefixes.h"

#include "common/DecimalText.h"

#include <cstring>

#include <arpa/inet.h>

namespace quantiro::prefixes {

namespace {

constexpr std::uint8_t kMappedIpv4Bits = 96;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::optional<IpPrefix> Parse(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::string address(text.substr(0, slash));
    // inet_pton reads up to a NUL: "1.2.3.4\0garbage/8" would pass as 1.2.3.4/8.
    if (address.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    IpPrefix prefix;
    std::uint8_t maximum = 128;
    std::uint8_t offset = 0;
    in_addr ipv4{};
    if (::inet_pton(AF_INET, address.c_str(), &ipv4) == 1) {
        prefix.address[10] = 0xff;
        prefix.address[11] = 0xff;
        std::memcpy(&prefix.address[12], &ipv4, sizeof ipv4);
        maximum = 32;
        offset = kMappedIpv4Bits;
    } else if (::inet_pton(AF_INET6, address.c_str(), prefix.address.data()) != 1) {
        return std::nullopt;
    }
    std::uint8_t length = maximum;
    if (slash != std::string_view::npos) {
        const auto parsed = ParseWholeText<unsigned>(text.substr(slash + 1));
        if (!parsed || *parsed > maximum) {
            return std::nullopt;
        }
        length = static_cast<std::uint8_t>(*parsed);
    }
    prefix.length = static_cast<std::uint8_t>(offset + length);
    for (unsigned bit = prefix.length; bit < 128; ++bit) {
        prefix.address[bit / 8] &= static_cast<std::uint8_t>(~(0x80U >> (bit % 8)));
    }
    return prefix;
}

std::variant<std::vector<IpPrefix>, std::string> ParseList(std::string_view text) {
    std::vector<IpPrefix> list;
    if (Trimmed(text).empty()) {
        return list;
    }
    std::size_t position = 0;
    for (std::size_t start = 0;; ++position) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = Trimmed(text.substr(start, comma - start));
        const auto prefix = Parse(item);
        if (!prefix) {
            return "prefiks nr " + std::to_string(position + 1) + " („" + std::string(item) +
                   "”) nie jest siecią w zapisie CIDR, np. 192.168.7.0/24";
        }
        if (list.size() == kLimit) {
            return "za dużo prefiksów (najwięcej " + std::to_string(kLimit) + ")";
        }
        list.push_back(*prefix);
        if (comma == std::string_view::npos) {
            return list;
        }
        start = comma + 1;
    }
}

} // namespace quantiro::prefixes
