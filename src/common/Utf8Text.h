#pragma once

#include <cstddef>
#include <string_view>

namespace quantiro {

// The length of the UTF-8 character `text` starts with; 0 when it starts none: a
// stray byte, a character cut short, an overlong form (0xC0 0xAF for '/'), a
// surrogate or a code point past U+10FFFF.
std::size_t Utf8Length(std::string_view text);

} // namespace quantiro
