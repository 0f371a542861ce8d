// The BMP writer: both header records built for each save from the surface description.
#include "raster/bmp_writer.h"

#include <cstddef>
#include <cstdint>

namespace norvisk {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;

unsigned char* Put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  return p + 2;
}

unsigned char* Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  return p + 4;
}

}  // namespace

bool WriteBmp(const SurfaceBits& bitmap, const SurfaceDesc& desc, const ImageSink& sink) {
  if (bitmap.bits == nullptr || desc.width <= 0 || desc.height <= 0) return false;
  const std::int64_t rowBytes = RowBytes(desc.width, desc.bitsPerPixel);
  const std::int64_t imageBytes = rowBytes * desc.height;
  constexpr std::int64_t kHeaders = kFileHeaderBytes + kInfoHeaderBytes;
  if (imageBytes <= 0 || imageBytes > std::int64_t{UINT32_MAX} - kHeaders) return false;
  // Never read past the memory the surface reports.
  if (static_cast<std::int64_t>(bitmap.rowBytes) * bitmap.height < imageBytes) return false;
  const auto size = static_cast<std::uint32_t>(imageBytes);

  unsigned char fileHeader[kFileHeaderBytes];
  unsigned char* p = Put16(fileHeader, 0x4D42);  // "BM"
  p = Put32(p, static_cast<std::uint32_t>(kHeaders) + size);
  p = Put16(p, 0);  // both reserved words
  p = Put16(p, 0);
  Put32(p, static_cast<std::uint32_t>(kHeaders));  // where the pixels start

  unsigned char infoHeader[kInfoHeaderBytes];
  p = Put32(infoHeader, static_cast<std::uint32_t>(kInfoHeaderBytes));
  p = Put32(p, static_cast<std::uint32_t>(desc.width));
  p = Put32(p, static_cast<std::uint32_t>(desc.height));  // positive: bottom-up rows
  p = Put16(p, desc.planes);
  p = Put16(p, desc.bitsPerPixel);
  p = Put32(p, desc.compression);
  p = Put32(p, size);
  p = Put32(p, static_cast<std::uint32_t>(desc.xPelsPerMeter));
  p = Put32(p, static_cast<std::uint32_t>(desc.yPelsPerMeter));
  p = Put32(p, desc.colorsUsed);
  Put32(p, desc.colorsImportant);

  return sink.Write(fileHeader, sizeof fileHeader) && sink.Write(infoHeader, sizeof infoHeader) &&
         sink.Write(bitmap.bits, size);
}

}  // namespace norvisk
