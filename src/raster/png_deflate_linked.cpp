// The igzip functions of the library linked into the program.
#include <isa-l/crc.h>

#include "raster/png_deflate.h"

namespace norvisk {

const PngDeflate* FindPngDeflate(std::string*) {
  static constexpr PngDeflate kLinked{isal_deflate_init, isal_deflate, crc32_gzip_refl};
  return &kLinked;
}

}  // namespace norvisk
