// The first character of a text as the graphs skip it, in the 8-bit encoding of this platform.
#pragma once

#include <cstddef>
#include <string_view>

namespace norvisk {

// How many bytes the character at the front of `text` takes; 0 for empty text. Texts are UTF-8
// on Linux: a whole sequence, and a byte that begins none is a character of its own (Latin-1).
// On Windows they are in the ANSI code page, read a byte a character as the component always
// read them.
std::size_t FirstCharLength(std::string_view text);

}  // namespace norvisk
