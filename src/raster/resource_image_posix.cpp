// Bitmap resources outside Windows: decoded when the project was built and compiled into the
// program as ready pixels (kEmbeddedBitmaps), so that using one costs no decoding and no memory.
#include "raster/resource_image.h"

namespace norvisk {

bool LoadResourceImage(ModuleHandle /*module: the bitmaps are this library's own*/, int id,
                       ResourceImage* out) {
  if (out == nullptr) return false;
  for (const EmbeddedBitmap* b = kEmbeddedBitmaps; b->id != 0; ++b) {
    if (b->id != id) continue;
    out->width = b->width;
    out->height = b->height;
    out->bitsPerPixel = 24;
    out->rowBytes = static_cast<int>(RowBytes(b->width, 24));
    out->bits = b->bits;
    out->rowSource = b->rowSource;
    return true;
  }
  return false;
}

}  // namespace norvisk
