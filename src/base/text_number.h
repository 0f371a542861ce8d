// Text and number helpers every layer shares: reading 8-bit text as characters, and the
// platform's rounding of scaled integers. Header only, and no dependency of its own.
#pragma once

#include <climits>
#include <cstddef>
#include <string_view>

namespace norvisk {

// The character at the front of 8-bit text read as UTF-8, a byte that does not begin a valid
// sequence being a Latin-1 character of its own: its code, and how many bytes it takes (0 for
// empty text).
inline std::size_t DecodeFirst(std::string_view text, char32_t* code) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (n == 0) return 0;
  const unsigned c = s[0];
  *code = static_cast<char32_t>(c);
  if (c < 0x80) return 1;
  int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
  if (c >= 0xF5) extra = 0;
  char32_t value = extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
  if (extra == 0 || static_cast<std::size_t>(extra) >= n) return 1;
  for (int k = 1; k <= extra; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 1;
    value = (value << 6) | (s[k] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
  if ((extra == 2 && value < 0x800) || (extra == 3 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF))
    return 1;
  *code = value;
  return static_cast<std::size_t>(extra) + 1;
}

// Decodes 8-bit text as DecodeFirst reads it. Calls emit(code) for each character.
template <class Emit>
void DecodeText(std::string_view text, Emit&& emit) {
  char32_t code = 0;
  while (std::size_t length = DecodeFirst(text, &code)) {
    emit(code);
    text.remove_prefix(length);
  }
}

// GDI's MulDiv: a * b / c rounded to nearest, halves away from zero; -1 when c is 0 or the
// result does not fit.
inline int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  long long product = static_cast<long long>(a) * b;
  long long divisor = c;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Halves go away from zero, as the platform's MulDiv does.
  long long result =
      product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
  if (result > INT_MAX || result < -INT_MAX) return -1;
  return static_cast<int>(result);
}

}  // namespace norvisk
