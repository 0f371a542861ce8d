// Canvas::SaveImage: the picture as a BMP or JPEG file, chosen by the file name.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "raster/canvas.h"
#include "raster/file_sink.h"
#include "raster/jpeg_writer.h"

namespace norvisk {
namespace {

constexpr int kJpegQuality = 90;
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;

unsigned char* Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  return p + 2;
}

unsigned char* Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  return p + 4;
}

}  // namespace

ImageFormat ImageFormatFor(std::string_view fileName) {
  // Any occurrence counts, in this order and case-sensitive: "x.bmp.jpg" is a BMP, "a.JPG" is
  // nothing.
  if (fileName.find(".bmp") != std::string_view::npos) return ImageFormat::Bmp;
  if (fileName.find(".jpg") != std::string_view::npos) return ImageFormat::Jpeg;
  return ImageFormat::None;
}

bool Canvas::SaveImage(const char* fileName) {
  if (fileName == nullptr) return false;
  switch (ImageFormatFor(fileName)) {
    case ImageFormat::Bmp:
      return WriteBmp(fileName);
    case ImageFormat::Jpeg: {
      const SurfaceBits bits = Bits();
      JpegWriter writer;
      return writer.WriteJpeg(&bits, kJpegQuality, fileName);
    }
    case ImageFormat::None:
      break;
  }
  return false;
}

bool Canvas::WriteBmp(const char* fileName) {
  if (!ready_ || fileName == nullptr) return false;
  const std::int64_t rowBytes = RowBytes(desc_.width, desc_.bitsPerPixel);
  const std::int64_t imageBytes = rowBytes * desc_.height;
  if (imageBytes <= 0 || imageBytes > std::int64_t{UINT32_MAX} - 54) return false;
  const SurfaceBits bits = Bits();
  // Never read past the memory the surface reports.
  if (bits.bits == nullptr ||
      static_cast<std::int64_t>(bits.rowBytes) * bits.height < imageBytes) {
    return false;
  }

  const auto size = static_cast<std::uint32_t>(imageBytes);
  fileHeader_.size = static_cast<std::uint32_t>(kFileHeaderBytes + kInfoHeaderBytes) + size;
  infoHeader_.headerSize = static_cast<std::uint32_t>(kInfoHeaderBytes);
  infoHeader_.width = desc_.width;
  infoHeader_.height = desc_.height;
  infoHeader_.planes = desc_.planes;
  infoHeader_.bitsPerPixel = desc_.bitsPerPixel;
  infoHeader_.compression = desc_.compression;
  infoHeader_.imageSize = size;
  infoHeader_.xPelsPerMeter = desc_.xPelsPerMeter;
  infoHeader_.yPelsPerMeter = desc_.yPelsPerMeter;
  infoHeader_.colorsUsed = desc_.colorsUsed;
  infoHeader_.colorsImportant = desc_.colorsImportant;

  // The file is little-endian whatever the host: written field by field, never as a struct.
  unsigned char fileHeader[kFileHeaderBytes];
  unsigned char* p = Put16(fileHeader, fileHeader_.type);
  p = Put32(p, fileHeader_.size);
  p = Put16(p, fileHeader_.reserved1);
  p = Put16(p, fileHeader_.reserved2);
  Put32(p, fileHeader_.offBits);

  unsigned char infoHeader[kInfoHeaderBytes];
  p = Put32(infoHeader, infoHeader_.headerSize);
  p = Put32(p, static_cast<std::uint32_t>(infoHeader_.width));
  p = Put32(p, static_cast<std::uint32_t>(infoHeader_.height));
  p = Put16(p, infoHeader_.planes);
  p = Put16(p, infoHeader_.bitsPerPixel);
  p = Put32(p, infoHeader_.compression);
  p = Put32(p, infoHeader_.imageSize);
  p = Put32(p, static_cast<std::uint32_t>(infoHeader_.xPelsPerMeter));
  p = Put32(p, static_cast<std::uint32_t>(infoHeader_.yPelsPerMeter));
  p = Put32(p, infoHeader_.colorsUsed);
  Put32(p, infoHeader_.colorsImportant);

  const void* const parts[] = {fileHeader, infoHeader, bits.bits};
  const std::size_t sizes[] = {sizeof fileHeader, sizeof infoHeader, size};
  return WriteFileParts(fileName, parts, sizes, 3);
}

}  // namespace norvisk
