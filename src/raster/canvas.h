// Canvas: the off-screen 24-bit picture every graph draws into.
//
// Coordinates are device pixels, origin at the top-left corner, x to the right, y downwards.
// The surface is a device-independent bitmap: 24 bits per pixel stored blue, green, red; rows
// padded with zeros to a multiple of 4 bytes; rows stored bottom-up (the first row in memory is
// the bottom row of the picture). Colours are packed 0x00BBGGRR, red in the low byte.
//
// A canvas may be without a surface (size 0 or less, too large, or refused by the back end).
// Then every drawing operation does nothing and every query returns false or zero. Nothing here
// throws, logs or reports an error text: failure is a false or zero result.
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

// A drawing target outside the canvas for CopyTo: an HDC on Windows; for the software back end
// a PixelTarget.
using DeviceContext = void*;

// 24-bit BGR pixel rows addressed top-down; stride may be negative for bottom-up memory.
struct PixelTarget {
  std::uint8_t* top = nullptr;  // first byte of the top row
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;  // bytes from one row to the one below it
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
  int style = 0;  // 0 solid, 1 dashed, 2 dotted, 3 dash-dot, 4 dash-dot-dot, 5 none
  int width = 1;
  Color color = 0;
  bool operator==(const PenSpec&) const = default;
};

struct BrushSpec {
  unsigned style = 1;  // 0 solid, 1 hollow
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
  bool SaveImage(const char* fileName);
  ExportResult ExportImage(const char* fileName);
  // The picture's file bytes in `format` into `sink`; nothing without a surface.
  ExportResult EncodeImage(ImageFormat format, const ImageSink& sink);

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
  std::unique_ptr<Canvas> scratch_;  // where DrawVerticalText draws its text upright first
};

}  // namespace norvisk
