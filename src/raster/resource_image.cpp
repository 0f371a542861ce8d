// BMP decoding for the bitmap resources. The input may come from anywhere, so every offset and
// size is checked against the buffer in 64-bit arithmetic before it is used.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "base/byte_order.h"
#include "raster/resource_image.h"

namespace norvisk {
namespace {

constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::int64_t kInfoHeaderSize = 40;

// A BMP file's pixels as its headers describe them, every part checked against the buffer.
struct BmpLayout {
  std::int64_t width;
  std::int64_t height;
  int bpp;
  const std::uint8_t* palette;  // BGRX entries, for 8 bits per pixel and fewer
  std::int64_t paletteEntries;
  ConstPixelRows rows;  // the stored rows, top-down
};

bool ReadLayout(const std::uint8_t* data, std::size_t size, BmpLayout* out) {
  const std::int64_t total = static_cast<std::int64_t>(size);
  if (total < kFileHeaderSize + kInfoHeaderSize) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;

  const std::int64_t offBits = LoadLe32(data + 10);
  const std::int64_t headerSize = LoadLe32(data + 14);
  // Later header versions extend the 40-byte one; the fields read here keep their place.
  if (headerSize < kInfoHeaderSize || kFileHeaderSize + headerSize > total) return false;

  const std::int64_t w = static_cast<std::int32_t>(LoadLe32(data + 18));
  const std::int64_t rawHeight = static_cast<std::int32_t>(LoadLe32(data + 22));
  const std::uint32_t planes = LoadLe16(data + 26);
  const int bpp = static_cast<int>(LoadLe16(data + 28));
  const std::uint32_t compression = LoadLe32(data + 30);
  const std::int64_t colorsUsed = LoadLe32(data + 46);

  if (planes != 1 || compression != 0) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const bool topDown = rawHeight < 0;
  const std::int64_t h = topDown ? -rawHeight : rawHeight;
  if (w <= 0 || h <= 0) return false;

  // Divide rather than multiply: width and height near 2^31 would overflow the product.
  if (h > kMaxSurfaceBytes / RowBytes(w, 24)) return false;

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
  // Rows are stored bottom-up unless the height is negative.
  const std::uint8_t* first = data + offBits;
  const ConstPixelRows rows =
      topDown
          ? ConstPixelRows{first, static_cast<int>(w), static_cast<int>(h), inRowBytes}
          : ConstPixelRows::BottomUp(first, static_cast<int>(w), static_cast<int>(h), inRowBytes);
  *out = BmpLayout{w, h, bpp, palette, paletteEntries, rows};
  return true;
}

// One stored row as 24-bit pixels; `colors` holds every byte value of an 8-bit picture.
void DecodeRow(const BmpLayout& in, const std::uint8_t* src, const std::uint8_t (*colors)[3],
               std::uint8_t* dst) {
  const std::int64_t w = in.width;
  const int bpp = in.bpp;
  // The common layouts row by row: 24 bits as they are, 8 bits one palette entry a byte.
  if (bpp == 24) {
    std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
    return;
  }
  if (bpp == 8) {
    for (std::int64_t x = 0; x < w; ++x, dst += 3) {
      const std::uint8_t* entry = colors[src[x]];
      dst[0] = entry[0];
      dst[1] = entry[1];
      dst[2] = entry[2];
    }
    return;
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
    if (index < in.paletteEntries) {
      const std::uint8_t* entry = in.palette + 4 * index;
      dst[0] = entry[0];
      dst[1] = entry[1];
      dst[2] = entry[2];
    }  // else stays black
  }
}

}  // namespace

bool DecodeBmp(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* pixels,
               int* width, int* height) {
  if (data == nullptr || pixels == nullptr || width == nullptr || height == nullptr) return false;
  BmpLayout in;
  if (!ReadLayout(data, size, &in)) return false;
  const std::int64_t outRowBytes = RowBytes(in.width, 24);
  try {
    pixels->assign(static_cast<std::size_t>(outRowBytes * in.height), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Every byte value of an 8-bit picture: its palette entry, black beyond a short palette.
  std::uint8_t colors[256][3] = {};
  if (in.bpp == 8)
    for (std::int64_t i = 0; i < 256 && i < in.paletteEntries; ++i)
      std::memcpy(colors[i], in.palette + 4 * i, 3);

  const PixelRows out = PixelRows::BottomUp(pixels->data(), in.rows.width, in.rows.height,
                                            static_cast<std::ptrdiff_t>(outRowBytes));
  const std::size_t inRowBytes = static_cast<std::size_t>(RowBytes(in.width, in.bpp));
  // Bottom row first, as the output is stored.
  for (std::int64_t y = in.height - 1; y >= 0; --y) {
    const std::uint8_t* src = in.rows.Row(y);
    // A row as the one below it (a gradient across the picture) is that row again.
    if (y < in.height - 1 && std::memcmp(src, in.rows.Row(y + 1), inRowBytes) == 0) {
      std::memcpy(out.Row(y), out.Row(y + 1), static_cast<std::size_t>(outRowBytes));
      continue;
    }
    DecodeRow(in, src, colors, out.Row(y));
  }
  *width = static_cast<int>(in.width);
  *height = static_cast<int>(in.height);
  return true;
}

}  // namespace norvisk
