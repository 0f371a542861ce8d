// The igzip functions taken from ISA-L's shared library, opened when a PNG is first written.
#include "base/optional_library.h"
#include "raster/png_deflate.h"

namespace norvisk {
namespace {

struct Loaded {
  PngDeflate functions{};
  std::string why;  // empty once every function was found
};

Loaded Load() {
  Loaded loaded;
  OptionalLibrary library(NORVISK_ISAL_SONAME);
  library.Find("isal_deflate_init", &loaded.functions.init);
  library.Find("isal_deflate", &loaded.functions.deflate);
  library.Find("crc32_gzip_refl", &loaded.functions.crc32);
  if (!library.Keep()) loaded.why = library.why();
  return loaded;
}

}  // namespace

const PngDeflate* FindPngDeflate(std::string* why) {
  static const Loaded loaded = Load();
  if (loaded.why.empty()) return &loaded.functions;
  if (why) *why = loaded.why;
  return nullptr;
}

}  // namespace norvisk
