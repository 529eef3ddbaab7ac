#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

// How the family's settings file spells a number and a flag. The settings
// component, the limit watcher's small reader and the options program all read
// through these, so a value never reads one way in one program and another way
// in the other.
namespace quantiro {

inline std::optional<std::int32_t> ParseStoredLong(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value, 10);
    if (error != std::errc() || last != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// "true" or "false" in any case, or a number (not 0 is true).
inline std::optional<bool> ParseStoredBool(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true" || lower == "false") {
        return lower == "true";
    }
    const auto number = ParseStoredLong(text);
    return number ? std::optional<bool>(*number != 0) : std::nullopt;
}

} // namespace quantiro
