// Random texts for the data-string readers: always the same sequence for a seed, so that a
// failing text comes back on every run and can be printed.
#pragma once

#include <string>
#include <string_view>

namespace norvisk_test {

// The characters that matter to the readers, a few that do not, and a byte that is not ASCII.
inline constexpr std::string_view kDataStringAlphabet = "();;)(0123456789.-+eEdDx \t\xff";

class RandomText {
 public:
  explicit RandomText(unsigned seed, std::string_view alphabet = kDataStringAlphabet)
      : state_(seed), alphabet_(alphabet) {}

  // The next text: shorter than `maxLength` characters of the alphabet.
  std::string Next(int maxLength = 64) {
    std::string text;
    int length = static_cast<int>(Step() % static_cast<unsigned>(maxLength));
    for (int i = 0; i < length; ++i) text += alphabet_[Step() % alphabet_.size()];
    return text;
  }

 private:
  // A linear congruential step; the low bits, which cycle quickly, are dropped.
  unsigned Step() {
    state_ = state_ * 1103515245 + 12345;
    return state_ >> 16;
  }

  unsigned state_;
  std::string_view alphabet_;
};

}  // namespace norvisk_test
