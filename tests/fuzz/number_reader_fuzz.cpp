// The number reader against the C library's reader: where the text holds only characters of
// decimal numbers and white space, both read the same value (the C reader with "e" for the "d"
// exponent letter, and with subnormal results allowed to read as 0). A character that cannot
// continue a number never changes what was read before it.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "graph/number_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using norvisk_fuzz::Check;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = norvisk::ReadNumber(text);
  Check(!std::isnan(value), "a number is never not-a-number");

  std::string extended(text);
  extended += ';';
  const double again = norvisk::ReadNumber(extended);
  Check(again == value && std::signbit(again) == std::signbit(value),
        "a ';' after the text changes nothing");

  std::string c_text(text);
  for (char& c : c_text) {
    if (c == 'd' || c == 'D')
      c = 'e';
    else if (std::string_view(" \t\n\v\f\r+-.0123456789eE").find(c) == std::string_view::npos)
      return 0;
  }
  const double expected = std::strtod(c_text.c_str(), nullptr);
  const bool subnormal = expected != 0 && std::fabs(expected) < DBL_MIN;
  Check(value == expected || (subnormal && value == 0), "the value is the C reader's");
  return 0;
}
