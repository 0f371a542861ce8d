// JSON text for `parse`: strings re-encoded as UTF-8, numbers that read back exactly.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/text_number.h"
#include "cli/cli.h"

namespace norvisk::cli {

void JsonString(std::string& out, std::string_view text) {
  out += '"';
  DecodeText(text, [&](char32_t c) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Re-encoded as UTF-8: bytes that were not UTF-8 were read as Latin-1.
      if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
      } else {
        if (c < 0x10000) {
          out += static_cast<char>(0xE0 | (c >> 12));
        } else {
          out += static_cast<char>(0xF0 | (c >> 18));
          out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        }
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  });
  out += '"';
}

// Infinities as numbers too large for a double, which JSON readers take as infinite.
void JsonNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "null";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-1e999" : "1e999";
  } else {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
  }
}

}  // namespace norvisk::cli
