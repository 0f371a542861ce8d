// JPEG export of a surface: baseline JFIF, 4:2:0 YCbCr, quality 0..100.
#pragma once

#include <cstdint>

#include "raster/canvas.h"
#include "raster/image_sink.h"

namespace norvisk {

class JpegWriter {
 public:
  virtual ~JpegWriter();

  // Compresses `bitmap` (1, 4, 8, 16, 24 or 32 bits per pixel, bottom-up rows) into `sink`,
  // through a libjpeg destination of our own: the sink receives the file's bytes in pieces of up
  // to 64 KB. False on bad input (no pixels or a quality beyond 0..100: nothing reaches the sink
  // then, an unsupported depth), on any compression failure and when the sink refuses a piece,
  // which ends the compression. Never ends the process.
  bool WriteJpeg(const SurfaceBits* bitmap, int quality, const ImageSink& sink);

  // Whether the last WriteJpeg failed because the library ran out of memory.
  bool outOfMemory() const { return outOfMemory_; }

 private:
  bool outOfMemory_ = false;
};

// Converts `bitmap` into top-down rows of red, green, blue samples: rows[0] is the top row and
// each row receives width * 3 samples. samplesPerRow is the capacity of one output row.
// False without a bitmap or pixels, with too small rows or for an unsupported depth.
bool ToRgbRows(const SurfaceBits* bitmap, int samplesPerRow, unsigned char** rows);

// Widens a 5-5-5 pixel (blue bits 0-4, green 5-9, red 10-14, bit 15 ignored) to 8 bits a channel
// through a fixed level table: 0 stays 0, 31 becomes 255, the others 8 * level + 8.
void Expand555(std::uint16_t pixel, unsigned char* red, unsigned char* green, unsigned char* blue);

}  // namespace norvisk
