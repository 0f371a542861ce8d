// Canvas: the off-screen 24-bit picture every graph draws into.
//
// Coordinates are device pixels, origin at the top-left corner, x to the right, y downwards.
// The surface is a device-independent bitmap: 24 bits per pixel stored blue, green, red; rows
// padded with zeros to a multiple of 4 bytes; rows stored bottom-up (the first row in memory is
// the bottom row of the picture). Colours are packed 0x00BBGGRR, red in the low byte.
//
// A canvas may be without a surface (size 0 or less, too large, or refused by the back end).
// Then every drawing operation does nothing and every query returns false or zero. Nothing here
// logs or reports an error text: failure is a false or zero result. Memory running out goes on
// to the caller as std::bad_alloc, as the standard library reports it; DrawVerticalText reports
// a scratch surface the platform refuses (within the size limit) the same way, since its text
// would otherwise be missing from a picture taken for complete.
//
// The canvas keeps the drawing settings (pen, brush, font) and forwards each primitive to a
// back end (raster/device.h): the software back end everywhere, GDI on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "raster/image_sink.h"

// What a platform device context handle points to (an HDC is an HDC__*); declared only, so
// that this header needs no platform header.
struct HDC__;

namespace norvisk {

using Color = std::uint32_t;
constexpr Color kInvalidColor = 0xFFFFFFFFu;

constexpr Color MakeColor(unsigned red, unsigned green, unsigned blue) {
  return (red & 0xFFu) | ((green & 0xFFu) << 8) | ((blue & 0xFFu) << 16);
}
constexpr unsigned RedOf(Color c) { return c & 0xFFu; }
constexpr unsigned GreenOf(Color c) { return (c >> 8) & 0xFFu; }
constexpr unsigned BlueOf(Color c) { return (c >> 16) & 0xFFu; }

// The module whose bitmap resources LoadBitmapResource reads: an HINSTANCE on Windows. Elsewhere
// the bitmaps are embedded in the library and the handle is not consulted.
using ModuleHandle = void*;

// Rows of pixels addressed top-down whatever their order in memory: row y starts at
// top + y * stride, and the stride is negative for bottom-up memory (a bitmap's own layout).
template <class Byte>
struct BasicPixelRows {
  Byte* top = nullptr;  // first byte of the top row
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;  // bytes from one row to the one below it

  Byte* Row(std::ptrdiff_t y) const { return top + y * stride; }

  // The rows of a bitmap stored bottom-up from `bottom`, `rowBytes` apart.
  static BasicPixelRows BottomUp(Byte* bottom, int width, int height, std::ptrdiff_t rowBytes) {
    Byte* top = bottom && height > 0 ? bottom + (height - 1) * rowBytes : bottom;
    return {top, width, height, -rowBytes};
  }
};
using PixelRows = BasicPixelRows<std::uint8_t>;
using ConstPixelRows = BasicPixelRows<const std::uint8_t>;

// A drawing target outside the canvas for CopyTo: a platform device context (an HDC, for the
// GDI back end) or pixel rows in memory (for the software back end). Each back end draws only
// into its own kind and refuses the other.
class DeviceContext {
 public:
  DeviceContext() = default;
  DeviceContext(std::nullptr_t) {}
  DeviceContext(HDC__* dc) : dc_(dc) {}
  DeviceContext(const PixelRows* pixels) : pixels_(pixels) {}

  HDC__* dc() const { return dc_; }
  const PixelRows* pixels() const { return pixels_; }
  explicit operator bool() const { return dc_ || pixels_; }
  bool operator==(const DeviceContext&) const = default;

 private:
  HDC__* dc_ = nullptr;
  const PixelRows* pixels_ = nullptr;
};

// Surface description: the fields of a 40-byte bitmap information header.
struct SurfaceDesc {
  std::uint32_t headerSize = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t planes = 1;
  std::uint16_t bitsPerPixel = 24;
  std::uint32_t compression = 0;
  std::uint32_t imageSize = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t colorsUsed = 0;
  std::uint32_t colorsImportant = 0;
};

// Bytes per row of a bitmap: rows are padded to 4 bytes.
constexpr std::int64_t RowBytes(std::int64_t width, int bitsPerPixel) {
  return ((width * bitsPerPixel + 31) / 32) * 4;
}

// Surfaces whose pixel memory would exceed this are refused.
constexpr std::int64_t kMaxSurfaceBytes = std::int64_t{256} << 20;

// Whether a 24-bit or other surface of this size is within the limit (sizes above 0).
constexpr bool SurfaceFits(std::int64_t width, std::int64_t height, int bitsPerPixel) {
  return width > 0 && height > 0 && RowBytes(width, bitsPerPixel) <= kMaxSurfaceBytes / height;
}

// A view of a surface's pixel memory, as a bitmap query reports it.
struct SurfaceBits {
  std::uint8_t* bits = nullptr;  // bottom row first
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  int rowBytes = 0;
  const std::uint8_t* colorTable = nullptr;  // BGRX entries, for 1, 4 and 8 bits per pixel
  int colorCount = 0;

  // The rows top-down, `rowBytes` apart in memory.
  PixelRows Rows() const { return PixelRows::BottomUp(bits, width, height, rowBytes); }
};

// Pen and brush styles, numbered as GDI numbers them.
constexpr int kPenSolid = 0;
constexpr int kPenDash = 1;
constexpr int kPenDot = 2;
constexpr int kPenDashDot = 3;
constexpr int kPenDashDotDot = 4;
constexpr int kPenNull = 5;
constexpr unsigned kBrushSolid = 0;
constexpr unsigned kBrushHollow = 1;

struct PenSpec {
  int style = kPenSolid;
  int width = 1;
  Color color = 0;
  bool operator==(const PenSpec&) const = default;
};

struct BrushSpec {
  unsigned style = kBrushHollow;
  Color color = 0;
  int hatch = 4;
  bool operator==(const BrushSpec&) const = default;
};

struct FontSpec {
  int height = 0;  // negative: character (em) height in pixels
  int italic = 0;
  int underline = 0;
  std::string face;
};

// The file format a name asks for: ".bmp" anywhere, else ".jpg" anywhere, case-sensitive.
enum class ImageFormat { None, Bmp, Jpeg };
ImageFormat ImageFormatFor(std::string_view fileName);

// Writes a surface's pixels as the bytes of one file format into a sink. The core's writers
// are those of the two formats above; a caller may pass one of its own (the PNG writer, a
// library the component does not link).
using PictureWriter = ExportResult (*)(const SurfaceBits& bits, const ImageSink& sink);
// The writer of `format`; nullptr for None.
PictureWriter WriterFor(ImageFormat format);

// Mix modes: the 16 binary raster operations, numbered as GDI numbers them.
constexpr int kMixCopyPen = 13;
constexpr int kMixMaskPen = 9;
// Background modes of text and dotted lines.
constexpr int kTransparent = 1;
constexpr int kOpaque = 2;

class Backend;
class Device;
class DrawObject;

// Pens or brushes a canvas has made, kept by the settings they were made from, the most
// recently used last. Charts go back and forth between a few colours; selecting a kept object
// costs less than making a new one and releasing the old.
template <class Settings>
class KeptObjects {
 public:
  static constexpr std::size_t kMaxKept = 8;
  // The kept object made from `settings`, else one made by `make` and kept; nullptr when it
  // cannot be made. The least recently used object goes when the shelf is full, so the object
  // returned by the previous call (the one selected) is never the one released.
  template <class Make>
  DrawObject* Find(const Settings& settings, Make make);

 private:
  struct Entry {
    Settings settings;
    std::unique_ptr<DrawObject> object;
  };
  std::vector<Entry> entries_;
};

class Canvas {
 public:
  Canvas(int width, int height);
  Canvas(int width, int height, const Backend& backend);
  virtual ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool Resize(int width, int height);
  bool LoadBitmapResource(ModuleHandle module, int id);
  bool CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX, int sourceY);
  // Writes the picture to a file whose name decides the format (ImageFormatFor); true when the
  // file was written whole. ExportImage says more: NoMemory when the encoder ran out of memory.
  // Given a writer, ExportImage writes with it whatever the name (nullptr: none, nothing made).
  bool SaveImage(const char* fileName);
  ExportResult ExportImage(const char* fileName);
  ExportResult ExportImage(const char* fileName, PictureWriter writer);
  // The picture's file bytes in `format`, or as `writer` makes them, into `sink`; nothing
  // without a surface.
  ExportResult EncodeImage(ImageFormat format, const ImageSink& sink) {
    return EncodeImage(WriterFor(format), sink);
  }
  ExportResult EncodeImage(PictureWriter writer, const ImageSink& sink);

  int SetBackgroundMode(int mode);
  Color GetPixel(int x, int y);
  void MoveTo(int x, int y);
  bool LineTo(int x, int y);
  void DrawRectangle(int left, int top, int right, int bottom);
  void DrawText(int x, int y, std::string_view text);
  int TextWidth(std::string_view text);
  int TextHeight(std::string_view text);
  Color TextColor();
  void SetFontSize(int points);
  void DrawVerticalText(int x, int y, std::string_view text);
  void SetPen(int style, int width, int red, int green, int blue);
  void SetPenRgb(int red, int green, int blue);
  void SetPenColor(Color color);
  void SetMixMode(int mode);  // one of the 16 binary raster operations (kMixCopyPen, ...)
  void SetBrushStyle(unsigned style);
  void SetBrushColor(Color color);

  // Canvases alive in this process, to find leaks.
  static int LiveCount();

  // Read access for image export and tests.
  bool ready() const { return ready_; }
  const SurfaceDesc& surfaceDesc() const { return desc_; }
  SurfaceBits Bits() const;  // empty without a surface
  int fontPoints() const { return fontPoints_; }
  const std::string& faceName() const { return faceName_; }
  const PenSpec& pen() const { return pen_; }
  const BrushSpec& brush() const { return brush_; }

 private:
  void ReplacePen();
  void ReplaceBrush();
  void ReplaceFont();
  void UseFont();
  bool Measure(std::string_view text, int* width, int* height);
  void TurnThroughScratch(int x, int y, int w, int h, std::string_view text);
  FontSpec MakeFontSpec() const;

  const Backend& backend_;
  std::unique_ptr<Device> device_;  // the drawing context with the surface selected
  bool ready_ = false;
  KeptObjects<BrushSpec> brushes_;
  KeptObjects<PenSpec> pens_;
  DrawObject* brushObject_ = nullptr;  // selected, one of brushes_; nullptr: the default brush
  DrawObject* penObject_ = nullptr;    // selected, one of pens_; nullptr: the default pen
  std::unique_ptr<DrawObject> fontObject_;
  bool fontWanted_ = true;                   // fontObject_ is to be made before the next text
  const DrawObject* scratchFont_ = nullptr;  // fontObject_ while selected into the scratch
  SurfaceDesc desc_;
  PenSpec pen_;
  BrushSpec brush_;
  int fontPoints_ = 10;
  int italic_ = 0;
  int underline_ = 0;
  std::string faceName_ = "MS Sans Serif";
  // Where DrawVerticalText draws its text upright first when the back end does not turn text
  // itself (GDI); kept for the texts after it, and replaced when one needs more room.
  std::unique_ptr<Canvas> scratch_;
};

}  // namespace norvisk
