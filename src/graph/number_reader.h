// Decimal number reading shared by the data-string readers.
#pragma once

#include <string_view>

namespace norvisk {

// Reads a number from the front of `text`: white space, an optional sign, digits with an
// optional "." and fraction digits, and an optional exponent (e, E, d or D, an optional sign and
// digits). Reading stops at the first character that does not fit; a text that does not begin
// with a number gives 0. The decimal separator is always "."; hexadecimal forms and words for
// infinity or not-a-number are not numbers. Too large a magnitude gives an infinity, too small 0.
double ReadNumber(std::string_view text);

}  // namespace norvisk
