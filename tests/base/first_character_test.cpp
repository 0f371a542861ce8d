// FirstCharLength and DecodeFirst: the first character of 8-bit text as this platform reads it.
#include "base/first_character.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text_number.h"

namespace norvisk {
namespace {

TEST(FirstCharacter, IsTheWholeCharacterOfThePlatformsTexts) {
  EXPECT_EQ(FirstCharLength(""), 0u);
  EXPECT_EQ(FirstCharLength("("), 1u);
  EXPECT_EQ(FirstCharLength(std::string("\0x", 2)), 1u);
  struct Case {
    const char* text;
    std::size_t utf8;  // bytes taken where texts are UTF-8
  };
  const Case cases[] = {
      {"\xc3\xa9x", 2},          // U+00E9
      {"\xe2\x82\xacx", 3},      // U+20AC
      {"\xf0\x9f\x98\x80x", 4},  // U+1F600
      {"\xc3", 1},               // cut short
      {"\xe2\x82x", 1},          // cut short before another character
      {"\x82\xac", 1},           // a continuation byte on its own
      {"\xc0\x80", 1},           // overlong
      {"\xed\xa0\x80", 1},       // a surrogate
      {"\xf4\x90\x80\x80", 1},   // past U+10FFFF
      {"\xff", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
#if defined(_WIN32)
    EXPECT_EQ(FirstCharLength(c.text), 1u);  // the ANSI code page: a byte a character
#else
    EXPECT_EQ(FirstCharLength(c.text), c.utf8);
#endif
  }
}

TEST(FirstCharacter, DecodeFirstGivesTheCodeDecodeTextReads) {
  char32_t code = 0;
  EXPECT_EQ(DecodeFirst("\xf0\x9f\x98\x80", &code), 4u);
  EXPECT_EQ(code, U'\U0001F600');
  EXPECT_EQ(DecodeFirst("\xe9t\xc3", &code), 1u);
  EXPECT_EQ(code, U'\u00e9');  // Latin-1
  std::u32string codes;
  DecodeText("a\xc3\xa9\xe9\xe2\x82\xac", [&](char32_t c) { codes += c; });
  EXPECT_EQ(codes, U"a\u00e9\u00e9\u20ac");
}

}  // namespace
}  // namespace norvisk
