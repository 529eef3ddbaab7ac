#pragma once

#include <cstdio>
#include <string_view>

namespace quantiro {

// Writes to standard output or error through C stdio. The C++ streams would set up
// the whole locale machinery at start, which the meter has no other use for.
inline void Write(std::FILE* to, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), to);
}

// Sends what was written on its way; false once the output has failed (a closed
// pipe), which the stream keeps.
inline bool Flush(std::FILE* to) {
    return std::fflush(to) == 0 && !std::ferror(to);
}

} // namespace quantiro
