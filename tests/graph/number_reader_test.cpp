// Decimal number reading: what counts as a number, where reading stops, and the locale.
#include "graph/number_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

namespace norvisk {
namespace {

TEST(NumberReader, ReadsSignDigitsFractionAndExponentLettersEAndD) {
  EXPECT_EQ(ReadNumber("12.5"), 12.5);
  EXPECT_EQ(ReadNumber(" \t\n12.5 "), 12.5);
  EXPECT_EQ(ReadNumber("-1.5e2"), -150.0);
  EXPECT_EQ(ReadNumber(" -1.5E2"), -150.0);
  EXPECT_EQ(ReadNumber("+7"), 7.0);
  EXPECT_EQ(ReadNumber("1d3"), 1000.0);
  EXPECT_EQ(ReadNumber("1D-2"), 0.01);
  EXPECT_EQ(ReadNumber("2.5d+1"), 25.0);
  EXPECT_EQ(ReadNumber(".5"), 0.5);
  EXPECT_EQ(ReadNumber("-.25"), -0.25);
  EXPECT_EQ(ReadNumber("5."), 5.0);
  EXPECT_EQ(ReadNumber("0.1"), 0.1);  // correctly rounded
  EXPECT_EQ(ReadNumber("123456789012345678901234567890"), 1.2345678901234568e29);
}

TEST(NumberReader, StopsAtTheFirstCharacterThatDoesNotFit) {
  EXPECT_EQ(ReadNumber("12abc"), 12.0);
  EXPECT_EQ(ReadNumber("3.5.6"), 3.5);
  EXPECT_EQ(ReadNumber("1e"), 1.0);
  EXPECT_EQ(ReadNumber("1e+"), 1.0);
  EXPECT_EQ(ReadNumber("1d-x"), 1.0);
  EXPECT_EQ(ReadNumber("7,5"), 7.0);  // the separator is always "."
  EXPECT_EQ(ReadNumber("4 5"), 4.0);
  EXPECT_EQ(ReadNumber("1e2e3"), 100.0);
}

TEST(NumberReader, TextsThatDoNotBeginWithANumberGiveZero) {
  for (const char* text : {"", " ", "abc", "-", "+", ".", "-.", "e5", "Jan", "0x1A", "inf",
                           "-infinity", "nan", "NAN(1)", "\xff"})
    EXPECT_EQ(ReadNumber(text), 0.0) << text;
  EXPECT_EQ(ReadNumber("0x1A"), 0.0);  // "0" then "x": reads 0, not 26
}

TEST(NumberReader, MagnitudesBeyondADoubleGiveInfinityOrZero) {
  EXPECT_EQ(ReadNumber("1e999"), HUGE_VAL);
  EXPECT_EQ(ReadNumber("-1d400"), -HUGE_VAL);
  EXPECT_EQ(ReadNumber(std::string(400, '9')), HUGE_VAL);
  EXPECT_EQ(ReadNumber("1e-999"), 0.0);
  EXPECT_EQ(ReadNumber("0.000000001e-400"), 0.0);
  EXPECT_EQ(ReadNumber("1e99999999999999999999"), HUGE_VAL);
  EXPECT_EQ(ReadNumber("1e-99999999999999999999"), 0.0);
}

TEST(NumberReader, IgnoresTheProcessLocale) {
  const char* german = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE", "fr_FR.UTF-8", "C.UTF-8"})
    if ((german = std::setlocale(LC_NUMERIC, name))) break;
  EXPECT_EQ(ReadNumber("2.75"), 2.75);
  EXPECT_EQ(ReadNumber("2,75"), 2.0);
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace norvisk
