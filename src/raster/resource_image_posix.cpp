// Bitmap resources outside Windows: the BMP files are compiled into the library
// (kEmbeddedResources) and each is decoded once, on its first use, for the life of the process.
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "raster/resource_image.h"

namespace norvisk {
namespace {

struct DecodedResource {
  std::once_flag once;
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

constexpr std::size_t kMaxResources = 16;

// Each bitmap is decoded the first time it is asked for, once per process: a chart needs only
// the background, and a short-lived process should not pay for the others.
const DecodedResource* Decoded(int id) {
  static DecodedResource decoded[kMaxResources];
  std::size_t index = 0;
  for (const EmbeddedResource* r = kEmbeddedResources; r->id != 0; ++r, ++index) {
    if (r->id != id) continue;
    if (index >= kMaxResources) return nullptr;
    DecodedResource& d = decoded[index];
    std::call_once(d.once, [&] { d.ok = DecodeBmp(r->data, r->size, &d.pixels, &d.width, &d.height); });
    return d.ok ? &d : nullptr;
  }
  return nullptr;
}

}  // namespace

bool LoadResourceImage(ModuleHandle /*module: the bitmaps are this library's own*/, int id,
                       ResourceImage* out) {
  if (out == nullptr) return false;
  const DecodedResource* d = Decoded(id);
  if (!d) return false;
  out->width = d->width;
  out->height = d->height;
  out->bitsPerPixel = 24;
  out->rowBytes = static_cast<int>(RowBytes(d->width, 24));
  out->bits = d->pixels.data();
  return true;
}

}  // namespace norvisk
