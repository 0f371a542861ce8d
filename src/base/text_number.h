// Text and number helpers every layer shares: reading 8-bit text as characters, and the
// platform's rounding of scaled integers. Header only, and no dependency of its own.
#pragma once

#include <climits>
#include <cstddef>
#include <string_view>

namespace norvisk {

// Decodes 8-bit text: UTF-8, with every byte that is not part of a valid sequence taken as
// Latin-1. Calls emit(code) for each character.
template <class Emit>
void DecodeText(std::string_view text, Emit&& emit) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned c = s[i];
    if (c < 0x80) {
      emit(static_cast<char32_t>(c));
      ++i;
      continue;
    }
    int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (c >= 0xF5) extra = 0;
    char32_t code = extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
    bool valid = extra > 0 && i + extra < n;
    for (int k = 1; valid && k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        valid = false;
      else
        code = (code << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if (valid &&
        ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
         (code >= 0xD800 && code <= 0xDFFF)))
      valid = false;
    if (valid) {
      emit(code);
      i += extra + 1;
    } else {
      emit(static_cast<char32_t>(c));
      ++i;
    }
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
