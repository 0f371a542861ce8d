// The BMP writer: both header records built for each save from the surface description.
#include "raster/bmp_writer.h"

#include <cstddef>
#include <cstdint>

#include "base/byte_order.h"

namespace norvisk {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;

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

  std::uint8_t fileHeader[kFileHeaderBytes];
  std::uint8_t* p = StoreLe16(fileHeader, 0x4D42);  // "BM"
  p = StoreLe32(p, static_cast<std::uint32_t>(kHeaders) + size);
  p = StoreLe16(p, 0);  // both reserved words
  p = StoreLe16(p, 0);
  StoreLe32(p, static_cast<std::uint32_t>(kHeaders));  // where the pixels start

  std::uint8_t infoHeader[kInfoHeaderBytes];
  p = StoreLe32(infoHeader, static_cast<std::uint32_t>(kInfoHeaderBytes));
  p = StoreLe32(p, static_cast<std::uint32_t>(desc.width));
  p = StoreLe32(p, static_cast<std::uint32_t>(desc.height));  // positive: bottom-up rows
  p = StoreLe16(p, desc.planes);
  p = StoreLe16(p, desc.bitsPerPixel);
  p = StoreLe32(p, desc.compression);
  p = StoreLe32(p, size);
  p = StoreLe32(p, static_cast<std::uint32_t>(desc.xPelsPerMeter));
  p = StoreLe32(p, static_cast<std::uint32_t>(desc.yPelsPerMeter));
  p = StoreLe32(p, desc.colorsUsed);
  StoreLe32(p, desc.colorsImportant);

  return sink.Write(fileHeader, sizeof fileHeader) && sink.Write(infoHeader, sizeof infoHeader) &&
         sink.Write(bitmap.bits, size);
}

}  // namespace norvisk
