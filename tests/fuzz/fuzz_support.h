// What the fuzz targets share: a scratch folder for the files they write, and checks that end
// the process (libFuzzer then keeps the input that did it).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "raster/canvas.h"

namespace norvisk_fuzz {

// Ends the process with a message naming the broken expectation.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// A folder of this process's own under the temporary folder, removed when the process ends.
inline const std::filesystem::path& ScratchDir() {
  struct Scratch {
    std::filesystem::path path;
    Scratch() {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "norvisk-fuzz-XXXXXX").string();
      Check(mkdtemp(pattern.data()) != nullptr, "the scratch folder can be made");
      path = pattern;
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Scratch scratch;
  return scratch.path;
}

// Removes what the last input wrote, so that every input starts with an empty folder.
inline void ClearScratch() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec))
    std::filesystem::remove_all(entry.path(), ec);
}

inline std::vector<unsigned char> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A whole 24-bit bitmap file of width x height, as the exporter writes it.
inline bool IsBitmapOf(const std::vector<unsigned char>& file, int width, int height) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  return file.size() == 54 + stride * static_cast<std::size_t>(height) && file[0] == 'B' &&
         file[1] == 'M';
}

// A JPEG stream from its start marker to its end marker.
inline bool IsWholeJpeg(const std::vector<unsigned char>& file) {
  const std::size_t n = file.size();
  return n > 4 && file[0] == 0xFF && file[1] == 0xD8 && file[n - 2] == 0xFF && file[n - 1] == 0xD9;
}

// Every graph and canvas of an input is gone once its objects are.
inline void CheckNothingAlive() {
  Check(norvisk::Graph::LiveCount() == 0, "no graph outlives its object");
  Check(norvisk::Canvas::LiveCount() == 0, "no canvas outlives its graph");
}

}  // namespace norvisk_fuzz
