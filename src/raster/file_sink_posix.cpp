// Whole files through stdio.
#include <cstdio>

#include "raster/file_sink.h"

namespace norvisk {

bool WriteFileParts(const char* fileName, const void* const* parts, const std::size_t* sizes,
                    int count) {
  if (fileName == nullptr || count < 0) return false;
  // Binary mode, so that no byte is ever translated.
  std::FILE* file = std::fopen(fileName, "wb");
  if (file == nullptr) return false;
  bool written = true;
  for (int k = 0; k < count && written; ++k)
    written = std::fwrite(parts[k], 1, sizes[k], file) == sizes[k];
  // A full disk often shows only when the buffer is flushed on close.
  written = std::fclose(file) == 0 && written;
  return written;
}

}  // namespace norvisk
