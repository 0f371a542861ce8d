// Picture memory on Windows: plain malloc and free. The module can be unloaded while the host's
// threads live on, and a block kept for a thread would outlive the code that frees it.
#include <cstdlib>

#include "raster/picture_memory.h"

namespace norvisk {

PictureBlock TakePictureMemory(std::size_t bytes) {
  PictureBlock block;
  block.data = std::malloc(bytes > 0 ? bytes : 1);
  if (block.data) block.capacity = bytes;
  return block;
}

void GivePictureMemory(void* data) { std::free(data); }

KeptPictureMemory PictureMemoryKept() { return {}; }

void ReleaseKeptPictureMemory() {}

}  // namespace norvisk
