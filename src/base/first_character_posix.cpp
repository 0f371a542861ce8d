// Texts here are UTF-8: the first character is the whole sequence.
#include "base/first_character.h"

#include "base/text_number.h"

namespace norvisk {

std::size_t FirstCharLength(std::string_view text) {
  char32_t code = 0;
  return DecodeFirst(text, &code);
}

}  // namespace norvisk
