// Decimal number reading, independent of the locale.
#include "graph/number_reader.h"

#include <charconv>
#include <limits>
#include <string>

namespace norvisk {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

double ReadNumber(std::string_view text) {
  std::size_t i = 0, n = text.size();
  while (i < n && is_space(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  std::size_t start = i;
  std::size_t intDigits = 0, fracDigits = 0;
  while (i < n && is_digit(text[i])) ++i, ++intDigits;
  std::size_t point = i;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && is_digit(text[i])) ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return 0.0;
  std::size_t mantissaEnd = i;

  // The exponent counts only when digits follow its letter and sign.
  std::size_t expStart = 0, expEnd = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && is_digit(text[j])) {
      expStart = i + 1;
      while (j < n && is_digit(text[j])) ++j;
      expEnd = j;
    }
  }

  // The parser takes "e" only, so the number is copied when its exponent letter is another.
  std::string copy;
  std::string_view number;
  if (expEnd == 0) {
    number = text.substr(start, mantissaEnd - start);
  } else if (text[expStart - 1] == 'e' || text[expStart - 1] == 'E') {
    number = text.substr(start, expEnd - start);
  } else {
    copy.assign(text.substr(start, mantissaEnd - start));
    copy += 'e';
    copy.append(text.substr(expStart, expEnd - expStart));
    number = copy;
  }

  double value = 0.0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Overflow or underflow, told apart by the decimal position of the first significant digit.
    std::size_t k = start;
    while (k < mantissaEnd && (text[k] == '0' || text[k] == '.')) ++k;
    long long lead =
        k < point ? static_cast<long long>(point - k) : -static_cast<long long>(k - point - 1);
    long long exponent = 0;
    if (expEnd != 0) {
      std::size_t j = expStart;
      bool expNegative = text[j] == '-';
      if (text[j] == '+' || text[j] == '-') ++j;
      for (; j < expEnd && exponent < 1000000000; ++j) exponent = exponent * 10 + (text[j] - '0');
      if (expNegative) exponent = -exponent;
    }
    value = lead + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

}  // namespace norvisk
