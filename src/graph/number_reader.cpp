// Decimal number reading, independent of the locale.
#include "graph/number_reader.h"

#include <charconv>
#include <limits>
#include <string>

namespace norvisk {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where the parts of a number stand in its text: the digits and point of the mantissa from
// `start` to `mantissaEnd`, its point at `point` (or where its digits end), and the exponent's
// sign and digits from `expStart` to `expEnd` after its letter (both 0 without an exponent).
struct NumberParts {
  std::size_t start = 0, point = 0, mantissaEnd = 0;
  std::size_t expStart = 0, expEnd = 0;
};

// The exponent after the mantissa counts only when digits follow its letter and sign.
void find_exponent(std::string_view text, NumberParts* parts) {
  std::size_t i = parts->mantissaEnd, n = text.size();
  if (i >= n || (text[i] != 'e' && text[i] != 'E' && text[i] != 'd' && text[i] != 'D')) return;
  std::size_t j = i + 1;
  if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
  if (j < n && is_digit(text[j])) {
    parts->expStart = i + 1;
    while (j < n && is_digit(text[j])) ++j;
    parts->expEnd = j;
  }
}

// A number too large or too small for a double: infinity or 0, told apart by the decimal
// position of the first significant digit.
double out_of_range(std::string_view text, const NumberParts& p) {
  std::size_t k = p.start;
  while (k < p.mantissaEnd && (text[k] == '0' || text[k] == '.')) ++k;
  long long lead =
      k < p.point ? static_cast<long long>(p.point - k) : -static_cast<long long>(k - p.point - 1);
  long long exponent = 0;
  if (p.expEnd != 0) {
    std::size_t j = p.expStart;
    bool expNegative = text[j] == '-';
    if (text[j] == '+' || text[j] == '-') ++j;
    for (; j < p.expEnd && exponent < 1000000000; ++j) exponent = exponent * 10 + (text[j] - '0');
    if (expNegative) exponent = -exponent;
  }
  return lead + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

double ReadNumber(std::string_view text) {
  std::size_t i = 0, n = text.size();
  while (i < n && is_space(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  NumberParts parts;
  parts.start = i;
  std::size_t intDigits = 0, fracDigits = 0;
  while (i < n && is_digit(text[i])) ++i, ++intDigits;
  parts.point = i;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && is_digit(text[i])) ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return 0.0;
  parts.mantissaEnd = i;
  find_exponent(text, &parts);

  // The parser takes "e" only, so the number is copied when its exponent letter is another.
  std::string copy;
  std::string_view number;
  if (parts.expEnd == 0) {
    number = text.substr(parts.start, parts.mantissaEnd - parts.start);
  } else if (text[parts.expStart - 1] == 'e' || text[parts.expStart - 1] == 'E') {
    number = text.substr(parts.start, parts.expEnd - parts.start);
  } else {
    copy.assign(text.substr(parts.start, parts.mantissaEnd - parts.start));
    copy += 'e';
    copy.append(text.substr(parts.expStart, parts.expEnd - parts.expStart));
    number = copy;
  }

  double value = 0.0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) value = out_of_range(text, parts);
  return negative ? -value : value;
}

}  // namespace norvisk
