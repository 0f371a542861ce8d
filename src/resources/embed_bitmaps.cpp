// Build-time program: decodes the bitmap resources for builds without Windows resources and
// writes them as a C++ source of ready pixels (24 bits, bottom-up rows padded to 4 bytes, the
// layout of a canvas surface), so that a process copies its background instead of decoding it.
//   embed_bitmaps OUTPUT ID=FILE...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "raster/resource_image.h"

namespace {

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The pixels as one string literal, 3-digit octal escapes (never read on into the next byte).
void WriteBytes(std::FILE* out, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 32 == 0) std::fputs(i == 0 ? "\n    \"" : "\"\n    \"", out);
    std::fprintf(out, "\\%03o", bytes[i]);
  }
  std::fputs("\"", out);
}

// For each row, the first row holding the same bytes: a picture is copied from its distinct
// rows, which stay in the processor's cache (a gradient has a single one).
void WriteRowSources(std::FILE* out, const std::vector<std::uint8_t>& pixels, int height, long id) {
  const std::size_t rowBytes = pixels.size() / static_cast<std::size_t>(height);
  std::fprintf(out, "const std::uint32_t kRows%ld[] = {", id);
  for (int row = 0; row < height; ++row) {
    int first = row;
    for (int earlier = 0; earlier < row && first == row; ++earlier)
      if (std::equal(pixels.begin() + earlier * rowBytes, pixels.begin() + (earlier + 1) * rowBytes,
                     pixels.begin() + row * rowBytes))
        first = earlier;
    std::fprintf(out, "%s%d,", row % 16 == 0 ? "\n    " : " ", first);
  }
  std::fputs("\n};\n\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: embed_bitmaps OUTPUT ID=FILE...\n");
    return 2;
  }
  const std::string output = argv[1];
  const std::string partial = output + ".part";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "embed_bitmaps: cannot write %s\n", partial.c_str());
    return 1;
  }
  std::fputs(
      "// Generated at build time from src/resources by embed_bitmaps; do not edit.\n"
      "#include \"raster/resource_image.h\"\n\nnamespace norvisk {\nnamespace {\n\n",
      out);
  std::string table;
  for (int i = 2; i < argc; ++i) {
    const std::string pair = argv[i];
    const std::size_t equals = pair.find('=');
    char* end = nullptr;
    const long id = std::strtol(pair.c_str(), &end, 10);
    std::vector<std::uint8_t> file, pixels;
    int width = 0, height = 0;
    if (equals == std::string::npos || end != pair.c_str() + equals || id <= 0 ||
        !ReadFile(pair.substr(equals + 1), &file) ||
        !norvisk::DecodeBmp(file.data(), file.size(), &pixels, &width, &height)) {
      std::fprintf(stderr, "embed_bitmaps: %s: not an id and a bitmap file that decodes\n",
                   pair.c_str());
      std::fclose(out);
      std::remove(partial.c_str());
      return 1;
    }
    std::fprintf(out, "// %s: %d x %d\nconst unsigned char kBitmap%ld[] =", pair.c_str(), width,
                 height, id);
    WriteBytes(out, pixels);
    std::fputs(";\n", out);
    WriteRowSources(out, pixels, height, id);
    table += "    {" + std::to_string(id) + ", " + std::to_string(width) + ", " +
             std::to_string(height) + ", kBitmap" + std::to_string(id) + ", kRows" +
             std::to_string(id) + "},\n";
  }
  std::fprintf(out,
               "}  // namespace\n\nconst EmbeddedBitmap kEmbeddedBitmaps[] = {\n%s"
               "    {0, 0, 0, nullptr, nullptr},\n};\n\n}  // namespace norvisk\n",
               table.c_str());
  const bool written = std::fflush(out) == 0 && !std::ferror(out);
  if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), output.c_str()) != 0) {
    std::fprintf(stderr, "embed_bitmaps: cannot write %s\n", output.c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
