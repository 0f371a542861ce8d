// The software back end: a 24-bit DIB in memory, drawn with the GDI pixel rules.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "raster/device.h"
#include "raster/picture_memory.h"
#include "raster/pixel_kernels.h"
#include "raster/soft_font.h"

namespace norvisk {

namespace {

using soft::DashedLine;
using soft::Dashes;
using soft::DashPos;
using soft::Ink;
using soft::LinePattern;
using soft::LineSteps;
using soft::SlopedLine;

struct SoftPen : DrawObject {
  explicit SoftPen(const PenSpec& s) : DrawObject(Kind::Pen), settings(s) {}
  PenSpec settings;
};
struct SoftBrush : DrawObject {
  explicit SoftBrush(const BrushSpec& s) : DrawObject(Kind::Brush), settings(s) {}
  BrushSpec settings;
};
struct SoftFont : DrawObject {
  explicit SoftFont(const FontSpec& s) : DrawObject(Kind::Font), settings(s) {}
  FontSpec settings;
  // Found at first use, so that a canvas that never draws text never pays for the lookup.
  mutable FontInstance* instance = nullptr;
  mutable bool looked = false;
};

constexpr int kDpi = 96;
constexpr Color kWhite = 0x00FFFFFF;
constexpr Color kNewTextColor = 0;  // the text colour of a new context: black

struct GiveBackBits {
  void operator()(std::uint8_t* bits) const { GivePictureMemory(bits); }
};
using PixelMemory = std::unique_ptr<std::uint8_t, GiveBackBits>;

class SoftDevice final : public Device {
 public:
  SoftDevice(int width, int height, PixelMemory bits)
      : width_(width),
        height_(height),
        rowBytes_(static_cast<int>(RowBytes(width, 24))),
        memory_(std::move(bits)),
        bits_(memory_.get()),
        rows_(PixelRows::BottomUp(bits_, width, height, rowBytes_)) {}

  SurfaceBits Bits() override {
    Clear();
    return SurfaceBits{bits_, width_, height_, 24, rowBytes_, nullptr, 0};
  }
  bool Cover(const std::uint8_t* bits, std::int64_t rowBytes, int width, int height,
             const std::uint32_t* rowSource) override {
    if (!bits || rowBytes != rowBytes_ || width != width_ || height != height_) return false;
    const std::size_t row = static_cast<std::size_t>(rowBytes_);
    if (!rowSource) {
      std::memcpy(bits_, bits, row * height_);
    } else {
      for (int y = 0; y < height_; ++y)
        if (rowSource[y] >= static_cast<std::uint32_t>(height_)) return false;
      for (int y = 0; y < height_; ++y)
        std::memcpy(bits_ + row * y, bits + row * rowSource[y], row);
    }
    blank_ = false;
    return true;
  }
  int LogPixelsY() override { return kDpi; }

  void Select(DrawObject::Kind kind, const DrawObject* object) override {
    switch (kind) {
      case DrawObject::Kind::Pen:
        pen_ = object ? static_cast<const SoftPen*>(object)->settings : PenSpec{};
        break;
      case DrawObject::Kind::Brush:
        // The default brush of a new context is solid white.
        brush_ = object ? static_cast<const SoftBrush*>(object)->settings
                        : BrushSpec{kBrushSolid, kWhite, 0};
        break;
      case DrawObject::Kind::Font: font_ = static_cast<const SoftFont*>(object); break;
    }
  }

  int SetBkMode(int mode) override {
    if (mode != kTransparent && mode != kOpaque) return 0;
    int previous = bkMode_;
    bkMode_ = mode;
    return previous;
  }
  void SetRop2(int mode) override {
    if (mode >= 1 && mode <= 16) rop2_ = mode;
  }
  Color GetTextColor() override { return textColor_; }

  void MoveTo(int x, int y) override {
    curX_ = x;
    curY_ = y;
  }

  bool LineTo(int x, int y) override {
    DashPos dash;  // every line starts its pattern afresh
    DrawLine(curX_, curY_, x, y, &dash);
    curX_ = x;
    curY_ = y;
    return true;
  }

  void Rectangle(int left, int top, int right, int bottom) override {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left == right || top == bottom) return;
    long long l = left, t = top, r = right, b = bottom;
    if (pen_.style == kPenNull) {
      // Without a pen the fill covers the rectangle less its right column and bottom row.
      if (brush_.style == kBrushSolid) FillRect(l, t, r - 1, b - 1, brush_.color);
      return;
    }
    // The outline runs through (left, top) and (right - 1, bottom - 1).
    int w = std::max(1, pen_.width);
    if (w == 1 && (Dashed() || r - l == 1 || b - t == 1)) {
      // A closed outline of four lines, each leaving out its end point, the pattern running on
      // from one to the next: from the top-right corner leftwards, down, rightwards and up. Where
      // the rectangle is one pixel wide or high the lines pass twice over the same pixels, which
      // shows in mix modes that are not idempotent, and a single pixel gets no outline at all.
      DashPos dash;
      DrawLine(right - 1, top, left, top, &dash);
      DrawLine(left, top, left, bottom - 1, &dash);
      DrawLine(left, bottom - 1, right - 1, bottom - 1, &dash);
      DrawLine(right - 1, bottom - 1, right - 1, top, &dash);
      if (brush_.style == kBrushSolid) FillRect(l + 1, t + 1, r - 1, b - 1, brush_.color);
      return;
    }
    if (w == 1 && brush_.style == 0 && r - l > 2 && b - t > 2) {
      // Thin outline around a fill: each inner row is one span of pen, brush, pen.
      FillRect(l, t, r, t + 1, pen_.color);
      FillRect(l, b - 1, r, b, pen_.color);
      FillRows(l, t + 1, r, b - 1, pen_.color, brush_.color);
      return;
    }
    if (brush_.style == kBrushSolid) FillRect(l + 1, t + 1, r - 1, b - 1, brush_.color);
    long long out = (w - 1) / 2, in = w / 2;
    long long ol = l - out, ot = t - out, orr = r + out, ob = b + out;  // outer, exclusive
    long long il = l + 1 + in, it = t + 1 + in, ir = r - 1 - in, ib = b - 1 - in;
    if (il >= ir || it >= ib) {
      FillRect(ol, ot, orr, ob, pen_.color);
      return;
    }
    FillRect(ol, ot, orr, it, pen_.color);
    FillRect(ol, ib, orr, ob, pen_.color);
    FillRect(ol, it, il, ib, pen_.color);
    FillRect(ir, it, orr, ib, pen_.color);
  }

  void TextOut(int x, int y, std::string_view text) override {
    FontInstance* font = Font();
    if (!font) return;
    if (bkMode_ == kOpaque) {
      // The cell is filled in the background colour; mix modes do not apply to text.
      int width = 0, height = 0;
      TextExtent(text, &width, &height);
      CopyRect(x, y, static_cast<long long>(x) + width,
               static_cast<long long>(y) + font->ascent() + font->descent(), kWhite);
    }
    long long penX = x;
    long long baseline = static_cast<long long>(y) + font->ascent();
    DecodeText(text, [&](char32_t c) {
      const Glyph& g = font->GlyphFor(c);
      DrawGlyph(g, penX + g.left, baseline - g.top);
      penX += g.advance;
    });
  }

  // As the canvas's upright drawing on a w x h scratch would give it: the glyphs at their pen
  // positions with the cell's top along column x, cut to that cell, each upright pixel (j, i)
  // landing on (x + i, y + w - j); the glyphs are kept turned, so each run is one row span.
  bool TurnedTextOut(int x, int y, int width, std::string_view text) override {
    FontInstance* font = Font();
    if (!font) return true;  // the scratch would draw nothing either
    const int ascent = font->ascent();
    // The cell: columns [x, x + cell height), rows y + 1 to y + width; then the surface.
    long long cellLeft = x, cellTop = static_cast<long long>(y) + 1;
    long long cellRight = cellLeft + ascent + font->descent(), cellBottom = cellTop + width;
    if (!Clip(&cellLeft, &cellTop, &cellRight, &cellBottom)) return true;
    const std::uint8_t pixel[3] = {static_cast<std::uint8_t>(BlueOf(kNewTextColor)),
                                   static_cast<std::uint8_t>(GreenOf(kNewTextColor)),
                                   static_cast<std::uint8_t>(RedOf(kNewTextColor))};
    long long penX = 0;
    DecodeText(text, [&](char32_t c) {
      const Glyph& g = font->TurnedGlyphFor(c);
      // Upright pixel (row, col) of the glyph sits at (penX + g.left + col, ascent - g.top + row).
      const long long left = static_cast<long long>(x) + ascent - g.top;
      const long long top = static_cast<long long>(y) + width - penX - g.left - g.width + 1;
      penX += g.advance;
      if (left >= cellRight || top >= cellBottom || left + g.height <= cellLeft ||
          top + g.width <= cellTop) {
        return;
      }
      for (const Glyph::Span& span : g.ink) {
        const long long row = top + span.row;
        if (row < cellTop || row >= cellBottom) continue;
        const long long from = std::max(left + span.col, cellLeft);
        const long long to = std::min(left + span.col + span.length, cellRight);
        std::uint8_t* p = Pixel(static_cast<int>(from), static_cast<int>(row));
        for (long long k = from; k < to; ++k, p += 3) std::memcpy(p, pixel, 3);
      }
    });
    return true;
  }

  bool TextExtent(std::string_view text, int* width, int* height) override {
    FontInstance* font = Font();
    if (!font) return false;
    long long w = 0;
    DecodeText(text, [&](char32_t c) { w += font->GlyphFor(c).advance; });
    *width = static_cast<int>(std::min<long long>(w, 0x7FFFFFFF));
    // As GDI measures it, an empty text has no height either.
    *height = text.empty() ? 0 : font->ascent() + font->descent();
    return true;
  }

  Color GetPixel(int x, int y) override {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return kInvalidColor;
    const std::uint8_t* p = Pixel(x, y);
    return MakeColor(p[2], p[1], p[0]);
  }

  bool CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX,
              int sourceY) override {
    // Pixel rows only: a platform device context is the GDI back end's.
    const PixelRows* to = target.pixels();
    if (!to || !to->top) return false;
    // Clip the rectangle against both the source and the target.
    long long sx = sourceX, sy = sourceY, dx = x, dy = y, w = width, h = height;
    auto clip = [](long long& a, long long& b, long long& len, long long limitA) {
      if (a < 0) {
        b -= a;
        len += a;
        a = 0;
      }
      if (a + len > limitA) len = limitA - a;
    };
    clip(sx, dx, w, width_);
    clip(dx, sx, w, to->width);
    clip(sy, dy, h, height_);
    clip(dy, sy, h, to->height);
    for (long long row = 0; row < h; ++row) {
      std::memcpy(to->Row(dy + row) + dx * 3,
                  Pixel(static_cast<int>(sx), static_cast<int>(sy + row)),
                  static_cast<std::size_t>(std::max<long long>(w, 0)) * 3);
    }
    return true;
  }

 private:
  // A new surface is black, made so on its first use unless a picture covers it first.
  void Clear() {
    if (!blank_) return;
    std::memset(bits_, 0, static_cast<std::size_t>(rowBytes_) * height_);
    blank_ = false;
  }

  std::uint8_t* Pixel(int x, int y) {
    Clear();
    return rows_.Row(y) + 3 * x;
  }

  FontInstance* Font() {
    if (!font_) {
      // The default font of a new context, used when no font could be made.
      if (!defaultLooked_) {
        defaultLooked_ = true;
        defaultFont_ = FontInstance::Get("MS Sans Serif", 0);
      }
      return defaultFont_;
    }
    if (!font_->looked) {
      font_->looked = true;
      font_->instance = FontInstance::Get(font_->settings.face, font_->settings.height);
    }
    return font_->instance;
  }

  // Cuts columns [l, r) and rows [t, b) to the surface; false when nothing is left.
  bool Clip(long long* l, long long* t, long long* r, long long* b) const {
    *l = std::max<long long>(*l, 0);
    *t = std::max<long long>(*t, 0);
    *r = std::min<long long>(*r, width_);
    *b = std::min<long long>(*b, height_);
    return *l < *r && *t < *b;
  }

  // Fills columns [l, r) and rows [t, b) through the mix mode.
  void FillRect(long long l, long long t, long long r, long long b, Color c) {
    if (!Clip(&l, &t, &r, &b)) return;
    std::uint8_t* start = Pixel(static_cast<int>(l), static_cast<int>(t));
    if (r - l == 1) {
      // One column: one call down the rows rather than one per row.
      soft::apply_ink(start, rows_.stride, b - t, soft::InkFor(rop2_, c));
      return;
    }
    std::size_t bytes = static_cast<std::size_t>(r - l) * 3;
    const std::uint8_t* pattern = Pattern(c, bytes);
    soft::SpanFn fn = soft::span_fn(rop2_);
    for (long long y = t; y < b; ++y, start += rows_.stride) fn(start, pattern, bytes);
  }

  // Rows [t, b) of columns [l, r): the first and last column in `edge`, the rest in `inside`.
  void FillRows(long long l, long long t, long long r, long long b, Color edge, Color inside) {
    long long cl = l, cr = r;
    if (!Clip(&cl, &t, &cr, &b)) return;
    std::size_t bytes = static_cast<std::size_t>(cr - cl) * 3;
    rowBuffer_.resize(bytes);
    std::memcpy(rowBuffer_.data(), Pattern(inside, bytes), bytes);
    const std::uint8_t* pen = Pattern(edge, 3);
    if (l >= cl) std::memcpy(rowBuffer_.data(), pen, 3);
    if (r <= cr) std::memcpy(rowBuffer_.data() + bytes - 3, pen, 3);
    soft::SpanFn fn = soft::span_fn(rop2_);
    std::uint8_t* start = Pixel(static_cast<int>(cl), static_cast<int>(t));
    for (long long y = t; y < b; ++y, start += rows_.stride) fn(start, rowBuffer_.data(), bytes);
  }

  // Like FillRect, but plain copies whatever the mix mode.
  void CopyRect(long long l, long long t, long long r, long long b, Color c) {
    if (!Clip(&l, &t, &r, &b)) return;
    std::size_t bytes = static_cast<std::size_t>(r - l) * 3;
    const std::uint8_t* pattern = Pattern(c, bytes);
    for (long long y = t; y < b; ++y)
      std::memcpy(Pixel(static_cast<int>(l), static_cast<int>(y)), pattern, bytes);
  }

  const std::uint8_t* Pattern(Color c, std::size_t bytes) { return patterns_.Bytes(c, bytes); }

  // Glyph pixels become the text colour, run by run, clipped to the surface.
  void DrawGlyph(const Glyph& g, long long left, long long top) {
    if (left >= width_ || top >= height_ || left + g.width <= 0 || top + g.height <= 0) return;
    const std::uint8_t pixel[3] = {static_cast<std::uint8_t>(BlueOf(textColor_)),
                                   static_cast<std::uint8_t>(GreenOf(textColor_)),
                                   static_cast<std::uint8_t>(RedOf(textColor_))};
    for (const Glyph::Span& span : g.ink) {
      long long y = top + span.row;
      if (y < 0 || y >= height_) continue;
      long long x0 = std::max<long long>(left + span.col, 0);
      long long x1 = std::min<long long>(left + span.col + span.length, width_);
      std::uint8_t* p = Pixel(static_cast<int>(x0), static_cast<int>(y));
      for (long long x = x0; x < x1; ++x, p += 3) std::memcpy(p, pixel, 3);
    }
  }

  Dashes PenDashes() const { return soft::DashesFor(pen_.style, pen_.width); }
  bool Dashed() const { return PenDashes().count > 1; }

  // Steps along the major axis from the start point (drawn) to the end point (left out); the
  // minor coordinate is the exact value rounded to nearest, halves to the smaller coordinate.
  // The pattern starts at `dash`, which is left where the line ends, clipped or not.
  void DrawLine(int x0, int y0, int x1, int y1, DashPos* dash) {
    if (pen_.style == kPenNull) return;
    const LineSteps line = LineSteps::Between(x0, y0, x1, y1);
    if (line.steps == 0) return;
    const Dashes dashes = PenDashes();
    DashPos at = *dash;  // where this line's pattern starts; the next one starts at its end
    Advance(dashes, dash, line.steps);
    // Only steps whose major coordinate lies on the surface can draw anything.
    long long first = 0, last = 0;
    if (!line.Visible(line.xMajor ? width_ : height_, &first, &last)) return;
    Advance(dashes, &at, first);
    // The gaps of an opaque pattern are white, through the mix mode as the pen is.
    const Ink on = soft::InkFor(rop2_, pen_.color);
    const Ink white = bkMode_ == kOpaque ? soft::InkFor(rop2_, kWhite) : Ink{};
    const LinePattern pattern{
        .dashes = dashes, .at = at, .on = &on, .gap = bkMode_ == kOpaque ? &white : nullptr};
    const int width = std::max(1, pen_.width);
    if (line.minorDelta == 0 && width == 1) {
      DrawStraight(line, first, last, pattern);
      return;
    }
    soft::apply_sloped(SlopedLine{.rows = rows_,
                                  .line = line,
                                  .first = first,
                                  .last = last,
                                  .width = width,
                                  .pattern = pattern});
  }

  // A one-pixel line along a row or a column, steps [first, last]: one pass over its pixels.
  void DrawStraight(const LineSteps& line, long long first, long long last,
                    const LinePattern& pattern) {
    if (line.minor0 < 0 || line.minor0 >= (line.xMajor ? height_ : width_)) return;
    const long long major = line.major0 + line.majorStep * first;
    const long long count = last - first + 1;
    std::uint8_t* origin = line.xMajor
                               ? Pixel(static_cast<int>(major), static_cast<int>(line.minor0))
                               : Pixel(static_cast<int>(line.minor0), static_cast<int>(major));
    const std::ptrdiff_t stride = line.majorStep * (line.xMajor ? 3 : rows_.stride);
    if (pattern.dashes.count > 1) {
      soft::apply_dashed(
          DashedLine{.dst = origin, .stride = stride, .count = count, .pattern = pattern});
      return;
    }
    // Solid: from the left or top end, a row as one span, a column as one run downwards.
    if (line.majorStep < 0) origin += stride * (count - 1);
    if (line.xMajor) {
      const std::size_t bytes = static_cast<std::size_t>(count) * 3;
      soft::span_fn(rop2_)(origin, Pattern(pen_.color, bytes), bytes);
    } else {
      soft::apply_ink(origin, rows_.stride, count, *pattern.on);
    }
  }

  int width_;
  int height_;
  int rowBytes_;
  PixelMemory memory_;
  std::uint8_t* bits_;
  PixelRows rows_;     // the surface top-down
  bool blank_ = true;  // not yet cleared: no pixel has been read or written
  PenSpec pen_;
  BrushSpec brush_{kBrushSolid, kWhite, 0};
  const SoftFont* font_ = nullptr;
  FontInstance* defaultFont_ = nullptr;
  bool defaultLooked_ = false;
  int bkMode_ = kOpaque;
  int rop2_ = kMixCopyPen;
  Color textColor_ = kNewTextColor;
  int curX_ = 0;
  int curY_ = 0;
  soft::ColorBytes patterns_;
  std::vector<std::uint8_t> rowBuffer_;
};

class SoftBackendImpl final : public Backend {
 public:
  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    if (!SurfaceFits(desc.width, desc.height, 24) || desc.bitsPerPixel != 24) return nullptr;
    std::int64_t bytes = RowBytes(desc.width, 24) * desc.height;
    // A new surface is all black (the device clears it before its first use): memory kept from
    // an earlier surface holds that surface's pixels. The memory is owned from here on, also
    // when the device holding it cannot be made.
    PixelMemory bits(
        static_cast<std::uint8_t*>(TakePictureMemory(static_cast<std::size_t>(bytes)).data));
    if (!bits) return nullptr;
    return std::make_unique<SoftDevice>(desc.width, desc.height, std::move(bits));
  }
  std::unique_ptr<DrawObject> CreatePen(const PenSpec& settings) const override {
    return std::make_unique<SoftPen>(settings);
  }
  std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& settings) const override {
    return std::make_unique<SoftBrush>(settings);
  }
  std::unique_ptr<DrawObject> CreateFont(const FontSpec& settings) const override {
    return std::make_unique<SoftFont>(settings);
  }
};

}  // namespace

const Backend& SoftBackend() {
  static const SoftBackendImpl backend;
  return backend;
}

}  // namespace norvisk
