// Bitmap resources outside Windows: the BMP files are compiled into the library
// (kEmbeddedResources) and decoded once, on first use, for the life of the process.
#include <cstdint>
#include <utility>
#include <vector>

#include "raster/resource_image.h"

namespace norvisk {
namespace {

struct DecodedResource {
  int id = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// All of them at once: there are only a few and the static's initialisation is thread-safe.
const std::vector<DecodedResource>& DecodedResources() {
  static const std::vector<DecodedResource> decoded = [] {
    std::vector<DecodedResource> all;
    for (const EmbeddedResource* r = kEmbeddedResources; r->id != 0; ++r) {
      DecodedResource d;
      d.id = r->id;
      if (DecodeBmp(r->data, r->size, &d.pixels, &d.width, &d.height)) all.push_back(std::move(d));
    }
    return all;
  }();
  return decoded;
}

}  // namespace

bool LoadResourceImage(ModuleHandle /*module: the bitmaps are this library's own*/, int id,
                       ResourceImage* out) {
  if (out == nullptr) return false;
  for (const DecodedResource& d : DecodedResources()) {
    if (d.id != id) continue;
    out->width = d.width;
    out->height = d.height;
    out->bitsPerPixel = 24;
    out->rowBytes = static_cast<int>(RowBytes(d.width, 24));
    out->bits = d.pixels.data();
    return true;
  }
  return false;
}

}  // namespace norvisk
