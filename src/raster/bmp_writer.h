// BMP export of a surface: a 14-byte file header, a 40-byte information header, the pixels.
#pragma once

#include "raster/canvas.h"
#include "raster/image_sink.h"

namespace norvisk {

// Writes `bitmap` as a BMP file into `sink`: both headers filled in from `desc` (little-endian
// whatever the host), then the pixel memory as it is, bottom row first. Three writes: 14 bytes,
// 40 bytes, the pixels. False without pixels, when they are fewer than `desc` says, when the
// file would exceed 4 GiB, or when the sink refuses a piece.
bool WriteBmp(const SurfaceBits& bitmap, const SurfaceDesc& desc, const ImageSink& sink);

}  // namespace norvisk
