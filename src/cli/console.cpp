// What the command reads from its standard streams and how it says why in one line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace norvisk::cli {

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

int Fail(std::string_view why) {
  const std::string line = "norvisk: " + OneLine(why) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kNotWritten;
}

bool ReadAll(std::FILE* file, std::string* text) {
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  return !std::ferror(file);
}

int FinishOutput(int status) {
  // A full disk or a closed stream shows only when the buffer is written.
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  return Fail(std::string("cannot write to standard output: ") + std::strerror(errno));
}

}  // namespace norvisk::cli
