// Canvas::SaveImage and EncodeImage: the picture as BMP or JPEG bytes, into a file or a sink.
#include <string_view>

#include "raster/bmp_writer.h"
#include "raster/canvas.h"
#include "raster/file_sink.h"
#include "raster/jpeg_writer.h"

namespace norvisk {
namespace {
constexpr int kJpegQuality = 90;
}  // namespace

ImageFormat ImageFormatFor(std::string_view fileName) {
  // Any occurrence counts, in this order and case-sensitive: "x.bmp.jpg" is a BMP, "a.JPG" is
  // nothing.
  if (fileName.find(".bmp") != std::string_view::npos) return ImageFormat::Bmp;
  if (fileName.find(".jpg") != std::string_view::npos) return ImageFormat::Jpeg;
  return ImageFormat::None;
}

ExportResult Canvas::EncodeImage(ImageFormat format, const ImageSink& sink) {
  if (!ready_) return ExportResult::NotWritten;
  const SurfaceBits bits = Bits();
  switch (format) {
    case ImageFormat::Bmp:
      return WriteBmp(bits, desc_, sink) ? ExportResult::Written : ExportResult::NotWritten;
    case ImageFormat::Jpeg: {
      JpegWriter writer;
      if (writer.WriteJpeg(&bits, kJpegQuality, sink)) return ExportResult::Written;
      return writer.outOfMemory() ? ExportResult::NoMemory : ExportResult::NotWritten;
    }
    case ImageFormat::None: break;
  }
  return ExportResult::NotWritten;
}

ExportResult Canvas::ExportImage(const char* fileName) {
  if (fileName == nullptr) return ExportResult::NotWritten;
  const ImageFormat format = ImageFormatFor(fileName);
  // Without a surface or a format no file is created at all.
  if (format == ImageFormat::None || !ready_) return ExportResult::NotWritten;
  FileSink file;
  if (!file.Open(fileName)) return ExportResult::NotWritten;
  const ExportResult result = EncodeImage(format, file.sink());
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
