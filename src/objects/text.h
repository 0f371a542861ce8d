// Text arguments of the graph objects and their conversion to the 8-bit text graphs keep.
#pragma once

#include <string>
#include <string_view>

namespace norvisk {

// A text as a caller hands it over: an automation string (UTF-16, read up to its first zero
// character) or 8-bit text. A null pointer of either kind is the empty text.
class TextArg {
 public:
  TextArg(const char16_t* wide) : wide_(wide), isWide_(true) {}  // NOLINT: implicit by design
  TextArg(const char* text) : narrow_(text ? text : "") {}       // NOLINT
  TextArg(std::string_view text) : narrow_(text) {}              // NOLINT
  TextArg(const std::string& text) : narrow_(text) {}            // NOLINT

  bool isWide() const { return isWide_; }
  const char16_t* wide() const { return wide_; }
  std::string_view narrow() const { return narrow_; }

 private:
  const char16_t* wide_ = nullptr;
  std::string_view narrow_;
  bool isWide_ = false;
};

// Converts an automation string to the 8-bit text of this platform: UTF-8 here, the ANSI code
// page on Windows. False when the platform cannot convert it.
bool WideToGraphText(const char16_t* wide, std::string* out);

// The 8-bit text of an argument: 8-bit text as it is, automation strings converted into
// `storage`. False when the platform cannot convert it.
bool GraphText(const TextArg& arg, std::string* storage, std::string_view* text);

}  // namespace norvisk
