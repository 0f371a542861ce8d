// BMP decoding for the bitmap resources. The input may come from anywhere, so every offset and
// size is checked against the buffer in 64-bit arithmetic before it is used.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "raster/resource_image.h"

namespace norvisk {
namespace {

constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::int64_t kInfoHeaderSize = 40;

std::uint32_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

bool DecodeBmp(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* pixels,
               int* width, int* height) {
  if (data == nullptr || pixels == nullptr || width == nullptr || height == nullptr) return false;
  const std::int64_t total = static_cast<std::int64_t>(size);
  if (total < kFileHeaderSize + kInfoHeaderSize) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;

  const std::int64_t offBits = Read32(data + 10);
  const std::int64_t headerSize = Read32(data + 14);
  // Later header versions extend the 40-byte one; the fields read here keep their place.
  if (headerSize < kInfoHeaderSize || kFileHeaderSize + headerSize > total) return false;

  const std::int64_t w = static_cast<std::int32_t>(Read32(data + 18));
  const std::int64_t rawHeight = static_cast<std::int32_t>(Read32(data + 22));
  const std::uint32_t planes = Read16(data + 26);
  const int bpp = static_cast<int>(Read16(data + 28));
  const std::uint32_t compression = Read32(data + 30);
  const std::int64_t colorsUsed = Read32(data + 46);

  if (planes != 1 || compression != 0) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const bool topDown = rawHeight < 0;
  const std::int64_t h = topDown ? -rawHeight : rawHeight;
  if (w <= 0 || h <= 0) return false;

  // Divide rather than multiply: width and height near 2^31 would overflow the product.
  const std::int64_t outRowBytes = RowBytes(w, 24);
  if (h > kMaxSurfaceBytes / outRowBytes) return false;

  // Colour table: right after the info header, BGRX entries.
  const std::uint8_t* palette = nullptr;
  std::int64_t paletteEntries = 0;
  if (bpp <= 8) {
    paletteEntries = colorsUsed != 0 ? colorsUsed : std::int64_t{1} << bpp;
    const std::int64_t paletteStart = kFileHeaderSize + headerSize;
    if (paletteStart + 4 * paletteEntries > total) return false;
    palette = data + paletteStart;
  }

  const std::int64_t inRowBytes = RowBytes(w, bpp);
  if (offBits < kFileHeaderSize + headerSize || offBits > total || inRowBytes * h > total - offBits)
    return false;

  try {
    pixels->assign(static_cast<std::size_t>(outRowBytes * h), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Every byte value of an 8-bit picture: its palette entry, black beyond a short palette.
  std::uint8_t colors[256][3] = {};
  if (bpp == 8)
    for (std::int64_t i = 0; i < 256 && i < paletteEntries; ++i)
      std::memcpy(colors[i], palette + 4 * i, 3);

  const std::uint8_t* previous = nullptr;  // the input row of the output row before
  for (std::int64_t row = 0; row < h; ++row) {
    // Output rows are bottom-up; so are the input rows unless the height was negative.
    const std::int64_t inRow = topDown ? h - 1 - row : row;
    const std::uint8_t* src = data + offBits + inRow * inRowBytes;
    std::uint8_t* dst = pixels->data() + row * outRowBytes;
    // A row as the one before it (a gradient across the picture) is that row again.
    if (row > 0 && std::memcmp(src, previous, static_cast<std::size_t>(inRowBytes)) == 0) {
      std::memcpy(dst, dst - outRowBytes, static_cast<std::size_t>(outRowBytes));
      continue;
    }
    previous = src;
    // The common layouts row by row: 24 bits as they are, 8 bits one palette entry a byte.
    if (bpp == 24) {
      std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
      continue;
    }
    if (bpp == 8) {
      for (std::int64_t x = 0; x < w; ++x, dst += 3) {
        const std::uint8_t* entry = colors[src[x]];
        dst[0] = entry[0];
        dst[1] = entry[1];
        dst[2] = entry[2];
      }
      continue;
    }
    for (std::int64_t x = 0; x < w; ++x, dst += 3) {
      if (bpp == 32) {
        const std::uint8_t* p = src + x * (bpp / 8);
        dst[0] = p[0];
        dst[1] = p[1];
        dst[2] = p[2];
        continue;
      }
      // Indexed: the leftmost pixel sits in the most significant bits of its byte.
      const std::int64_t bit = x * bpp;
      const int shift = 8 - bpp - static_cast<int>(bit % 8);
      const std::int64_t index = (src[bit / 8] >> shift) & ((1 << bpp) - 1);
      if (index < paletteEntries) {
        const std::uint8_t* entry = palette + 4 * index;
        dst[0] = entry[0];
        dst[1] = entry[1];
        dst[2] = entry[2];
      }  // else stays black
    }
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

}  // namespace norvisk
