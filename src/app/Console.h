#pragma once

#include <cstdio>
#include <string_view>

namespace quantiro::app {

// Writes to standard output or error through C stdio. The C++ streams would set up
// the whole locale machinery at start, which the meter has no other use for.
inline bool Write(std::FILE* to, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), to) == text.size();
}

} // namespace quantiro::app
