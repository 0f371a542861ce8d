// Canvas::SaveImage and EncodeImage: the picture as a file's bytes, into a file or a sink.
#include <cstdint>
#include <string_view>

#include "raster/bmp_writer.h"
#include "raster/canvas.h"
#include "raster/file_sink.h"
#include "raster/jpeg_writer.h"

namespace norvisk {
namespace {

constexpr int kJpegQuality = 90;

// The header of a canvas's surface: of its fields only the size and the depth ever vary.
ExportResult WriteBmpPicture(const SurfaceBits& bits, const ImageSink& sink) {
  SurfaceDesc desc;
  desc.width = bits.width;
  desc.height = bits.height;
  desc.bitsPerPixel = static_cast<std::uint16_t>(bits.bitsPerPixel);
  return WriteBmp(bits, desc, sink) ? ExportResult::Written : ExportResult::NotWritten;
}

ExportResult WriteJpegPicture(const SurfaceBits& bits, const ImageSink& sink) {
  JpegWriter writer;
  if (writer.WriteJpeg(&bits, kJpegQuality, sink)) return ExportResult::Written;
  return writer.outOfMemory() ? ExportResult::NoMemory : ExportResult::NotWritten;
}

}  // namespace

ImageFormat ImageFormatFor(std::string_view fileName) {
  // Any occurrence counts, in this order and case-sensitive: "x.bmp.jpg" is a BMP, "a.JPG" is
  // nothing.
  if (fileName.find(".bmp") != std::string_view::npos) return ImageFormat::Bmp;
  if (fileName.find(".jpg") != std::string_view::npos) return ImageFormat::Jpeg;
  return ImageFormat::None;
}

PictureWriter WriterFor(ImageFormat format) {
  switch (format) {
    case ImageFormat::Bmp: return WriteBmpPicture;
    case ImageFormat::Jpeg: return WriteJpegPicture;
    case ImageFormat::None: break;
  }
  return nullptr;
}

ExportResult Canvas::EncodeImage(PictureWriter writer, const ImageSink& sink) {
  if (!ready_ || writer == nullptr) return ExportResult::NotWritten;
  return writer(Bits(), sink);
}

ExportResult Canvas::ExportImage(const char* fileName) {
  if (fileName == nullptr) return ExportResult::NotWritten;
  return ExportImage(fileName, WriterFor(ImageFormatFor(fileName)));
}

ExportResult Canvas::ExportImage(const char* fileName, PictureWriter writer) {
  // Without a surface or a format no file is created at all.
  if (fileName == nullptr || writer == nullptr || !ready_) return ExportResult::NotWritten;
  FileSink file;
  if (!file.Open(fileName)) return ExportResult::NotWritten;
  const ExportResult result = EncodeImage(writer, file.sink());
  if (result != ExportResult::Written) {
    file.Discard();
    return result;
  }
  return file.Close() ? result : ExportResult::NotWritten;
}

bool Canvas::SaveImage(const char* fileName) {
  return ExportImage(fileName) == ExportResult::Written;
}

}  // namespace norvisk
