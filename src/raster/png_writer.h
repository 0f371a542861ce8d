// PNG export of a surface: 8-bit RGB, not interlaced; one IHDR, the IDAT data, IEND.
#pragma once

#include "raster/canvas.h"
#include "raster/image_sink.h"

namespace norvisk {

// Writes the 24-bit surface `bitmap` (bottom-up blue-green-red rows) as a PNG into `sink`. A row
// equal to the one above it goes up-filtered (all zeros), any other row unfiltered: the
// background repeats from row to row, and along a row it is dithered, which no filter predicts.
// The same pixels always give the same bytes: no time, no text chunks.
// Written: the sink took every byte. NoMemory: the encoder's memory could not be had; the sink
// received nothing. NotWritten: no pixels, another depth, or the sink refused a piece (what it
// had taken is no picture).
ExportResult WritePng(const SurfaceBits& bitmap, const ImageSink& sink);

}  // namespace norvisk
