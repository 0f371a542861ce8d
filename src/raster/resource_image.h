// Bitmap resources of the module: the background (202), the logo (203), the toolbox image (101).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/canvas.h"

namespace norvisk {

// A bitmap resource as the platform delivers it: 24 bits per pixel, blue-green-red, rows
// bottom-up and padded to 4 bytes, the layout of a canvas surface.
struct ResourceImage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 24;
  int rowBytes = 0;
  const std::uint8_t* bits = nullptr;
  // For row y (counted as stored), the first row with the same bytes; null: every row its own.
  const std::uint32_t* rowSource = nullptr;
};

// Loads bitmap resource `id` of `module`. False when there is no such bitmap. The image stays
// valid for the life of the process (decoded once and kept, or compiled in ready).
bool LoadResourceImage(ModuleHandle module, int id, ResourceImage* out);

// Decodes the bytes of a BMP file (uncompressed, 1, 4, 8, 24 or 32 bits per pixel, rows bottom-up
// or top-down) into 24-bit bottom-up rows padded to 4 bytes. False for anything else.
bool DecodeBmp(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* pixels,
               int* width, int* height);

// Bitmap resources of builds without Windows resources, decoded when the project was built
// (src/resources/embed_bitmaps.cpp): `bits` in the layout of ResourceImage. The table ends
// with id 0.
struct EmbeddedBitmap {
  int id;
  int width;
  int height;
  const unsigned char* bits;
  const std::uint32_t* rowSource;  // as ResourceImage::rowSource
};
extern const EmbeddedBitmap kEmbeddedBitmaps[];

}  // namespace norvisk
