// The raster back-end seam: a drawing context with a surface selected, and the objects drawn
// with. Each primitive maps onto one platform drawing call and must give the platform's pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/text_number.h"
#include "raster/canvas.h"

namespace norvisk {

// A pen, brush or font made by a back end. Released only after no device has it selected.
class DrawObject {
 public:
  enum class Kind { Pen, Brush, Font };
  explicit DrawObject(Kind kind) : kind_(kind) {}
  virtual ~DrawObject() = default;
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

class Device {
 public:
  virtual ~Device() = default;

  // Pixel memory as a bitmap query reports it; pending drawing is finished first.
  virtual SurfaceBits Bits() = 0;
  virtual int LogPixelsY() = 0;

  // Selects the object (nullptr: the device's default object of that kind).
  virtual void Select(DrawObject::Kind kind, const DrawObject* object) = 0;

  virtual int SetBkMode(int mode) = 0;
  virtual void SetRop2(int mode) = 0;
  virtual Color GetTextColor() = 0;
  virtual void MoveTo(int x, int y) = 0;
  virtual bool LineTo(int x, int y) = 0;
  virtual void Rectangle(int left, int top, int right, int bottom) = 0;
  virtual void TextOut(int x, int y, std::string_view text) = 0;
  // Width and cell height of the text; false when the text cannot be measured.
  virtual bool TextExtent(std::string_view text, int* width, int* height) = 0;
  // The text turned a quarter turn counter-clockwise, as Canvas::DrawVerticalText places it:
  // `width` is its TextExtent width; only ink is drawn, in a new context's text colour, whatever
  // this one's modes. False when the back end leaves turning to the canvas, which then copies
  // the text from an upright drawing on a scratch surface.
  virtual bool TurnedTextOut(int /*x*/, int /*y*/, int /*width*/, std::string_view /*text*/) {
    return false;
  }
  // The whole surface replaced by `bits`, rows in the surface's own layout (Bits()); row y
  // taken from row rowSource[y] when rowSource is given. The picture a canvas starts from.
  // False when the back end has no quicker way than Bits().
  virtual bool Cover(const std::uint8_t* /*bits*/, std::int64_t /*rowBytes*/, int /*width*/,
                     int /*height*/, const std::uint32_t* /*rowSource*/) {
    return false;
  }
  virtual Color GetPixel(int x, int y) = 0;
  virtual bool CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX,
                      int sourceY) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // A device with a new surface of desc's size and depth, all pixels 0; nullptr on refusal.
  virtual std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const = 0;
  virtual std::unique_ptr<DrawObject> CreatePen(const PenSpec& settings) const = 0;
  virtual std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& settings) const = 0;
  virtual std::unique_ptr<DrawObject> CreateFont(const FontSpec& settings) const = 0;
};

// The software back end, built everywhere.
const Backend& SoftBackend();
// The GDI back end (Windows builds only).
const Backend& GdiBackend();
// The platform's own back end: GDI on Windows, the software back end elsewhere.
const Backend& DefaultBackend();

}  // namespace norvisk
