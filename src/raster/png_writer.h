// PNG export of a surface: 8-bit RGB, not interlaced; one IHDR, the IDAT data, IEND.
#pragma once

#include <string>

#include "raster/canvas.h"
#include "raster/image_sink.h"

namespace norvisk {

// Writes the 24-bit surface `bitmap` (bottom-up blue-green-red rows) as a PNG into `sink`. A row
// equal to the one above it goes up-filtered (all zeros), any other row unfiltered: the
// background repeats from row to row, and along a row it is dithered, which no filter predicts.
// The same pixels always give the same bytes on one machine: no time, no text chunks. (The
// compressor takes the code paths of the processor it runs on, and those of other processors
// may give other bytes for the same pixels.) A PictureWriter.
// Written: the sink took every byte. NoMemory: the encoder's memory could not be had; the sink
// received nothing. NotWritten: no pixels, another depth, the compression library could not be
// had (PngWriterReady says why; the sink received nothing), or the sink refused a piece (what it
// had taken is no picture).
ExportResult WritePng(const SurfaceBits& bitmap, const ImageSink& sink);

// Whether WritePng has its compression library: false, with *why in one line, where it is to be
// opened at run time and cannot be.
bool PngWriterReady(std::string* why);

}  // namespace norvisk
