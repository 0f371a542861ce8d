// Texts on Windows are in the ANSI code page: a character a byte.
#include "base/first_character.h"

namespace norvisk {

std::size_t FirstCharLength(std::string_view text) { return text.empty() ? 0 : 1; }

}  // namespace norvisk
