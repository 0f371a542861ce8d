// The software back end: a 24-bit DIB in memory, drawn with the GDI pixel rules.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "raster/device.h"
#include "raster/soft_font.h"

namespace norvisk {

namespace {

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

// Binary raster operations 1..16: bit k of (mode - 1) is the result for pen bit P and
// destination bit D with k = 2P + D.
template <class T>
inline T rop_of(unsigned t, T d, T p) {
  T r = 0;
  if (t & 1) r |= ~p & ~d;
  if (t & 2) r |= ~p & d;
  if (t & 4) r |= p & ~d;
  if (t & 8) r |= p & d;
  return r;
}

template <int Mode, class T>
inline T rop(T d, T p) {
  return rop_of<T>(Mode - 1, d, p);
}

// The operation works bit by bit, so whole words are combined at once.
template <int Mode>
void apply_span(std::uint8_t* __restrict dst, const std::uint8_t* __restrict pattern,
                std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    std::uint64_t d, p;
    std::memcpy(&d, dst + i, 8);
    std::memcpy(&p, pattern + i, 8);
    d = rop<Mode>(d, p);
    std::memcpy(dst + i, &d, 8);
  }
  for (; i < bytes; ++i) dst[i] = rop<Mode>(dst[i], pattern[i]);
}

// ceil(a / b) for b > 0.
inline __int128 ceil_div(__int128 a, __int128 b) {
  __int128 q = a / b;
  return (a % b != 0 && a > 0) ? q + 1 : q;
}

// With the pen colour fixed, every mix mode acts on each destination byte as d -> x ^ (d & m):
// x is the result for d = 0 and m the bits in which the results for 0 and 0xFF differ.
struct Ink {
  std::uint8_t x[3];
  std::uint8_t m[3];
  // The result does not depend on the destination: written without reading it.
  bool Constant() const { return (m[0] | m[1] | m[2]) == 0; }
  // Every destination stays as it is (white through the mask mode, black through merge, ...).
  bool LeavesAlone() const { return (x[0] | x[1] | x[2]) == 0 && (m[0] & m[1] & m[2]) == 0xFF; }
};

Ink InkFor(int mode, const std::uint8_t* color) {
  const unsigned t = static_cast<unsigned>(mode - 1);
  Ink ink{};
  for (int k = 0; k < 3; ++k) {
    ink.x[k] = rop_of<std::uint8_t>(t, 0, color[k]);
    ink.m[k] = static_cast<std::uint8_t>(ink.x[k] ^ rop_of<std::uint8_t>(t, 0xFF, color[k]));
  }
  return ink;
}

// One pixel combined with the ink. Callers pass a local copy, which the compiler keeps in
// registers: the pixel loops then read only the destination, and not even that for a constant
// ink.
template <bool Constant>
inline void ink_pixel(std::uint8_t* p, const Ink& ink) {
  for (int k = 0; k < 3; ++k)
    p[k] = Constant ? ink.x[k] : static_cast<std::uint8_t>(ink.x[k] ^ (p[k] & ink.m[k]));
}

// `count` pixels `stride` bytes apart, each combined with the ink.
template <bool Constant>
inline void ink_pixels(std::uint8_t* p, std::ptrdiff_t stride, long long count, Ink ink) {
  for (long long k = 0; k < count; ++k, p += stride) ink_pixel<Constant>(p, ink);
}

inline void apply_ink(std::uint8_t* p, std::ptrdiff_t stride, long long count, const Ink& ink) {
  if (ink.Constant())
    ink_pixels<true>(p, stride, count, ink);
  else if (!ink.LeavesAlone())
    ink_pixels<false>(p, stride, count, ink);
}

// A line along a row or a column: `count` pixels `stride` bytes apart, in pattern runs that
// alternate between the pen's ink (`on`) and the gaps' (`gap`; null leaves gaps alone).
struct DashedLine {
  std::uint8_t* dst;
  std::ptrdiff_t stride;
  long long count;
  const int* runs;
  int runCount;
  int run;          // run of the first pixel
  long long phase;  // pixels of that run already passed
  const Ink* on;
  const Ink* gap;
};

void apply_dashed(const DashedLine& line) {
  std::uint8_t* dst = line.dst;
  int run = line.run;
  long long left = line.runs[run] - line.phase;
  for (long long i = 0; i < line.count;) {
    long long n = std::min(left, line.count - i);
    const Ink* ink = run % 2 == 0 ? line.on : line.gap;
    if (ink) apply_ink(dst, line.stride, n, *ink);
    dst += n * line.stride;
    i += n;
    if (++run == line.runCount) run = 0;
    left = line.runs[run];
  }
}

// A sloped line: the visible steps [first, last] along the major axis, the minor coordinate kept
// as quotient and remainder, each step drawing a span of the pen width across the minor axis,
// cut to the surface. Gaps of the pattern take `gap` (null leaves them alone).
struct SlopedLine {
  std::uint8_t* bits;
  std::ptrdiff_t rowBytes;
  long long height;
  long long minorLimit;
  bool xMajor;
  long long major0, majorStep, minor0;
  long long first, last;
  long long quotient, remainder, denominator, increment;
  long long spanLow, spanHigh;
  const int* runs;
  int runCount;
  int run;
  long long phase;
  const Ink* on;
  const Ink* gap;
};

// The common sloped line: one pixel wide, solid, wholly on the surface. One pixel a step, the
// minor coordinate moved by a byte offset when the remainder wraps.
template <bool Constant>
void ink_thin_line(std::uint8_t* p, std::ptrdiff_t majorBytes, std::ptrdiff_t minorBytes,
                   long long count, long long remainder, long long increment, long long denominator,
                   Ink ink) {
  // Walking forwards or backwards on the minor axis, the remainder wraps one way only.
  const bool up = increment > 0;
  const long long delta = up ? increment : -increment;
  if (!up) remainder = denominator - 1 - remainder;
  for (long long k = 0; k < count; ++k) {
    ink_pixel<Constant>(p, ink);
    p += majorBytes;
    remainder -= delta;
    if (remainder < 0) {
      remainder += denominator;
      p += minorBytes;
    }
  }
}

void apply_sloped(const SlopedLine& line) {
  long long quotient = line.quotient, remainder = line.remainder;
  int run = line.run;
  long long phase = line.phase;
  const bool patterned = line.runCount > 1;
  // The top row of the surface in memory order is its last; row y lies at top - y * rowBytes.
  std::uint8_t* const top = line.bits + (line.height - 1) * line.rowBytes;
  auto at = [&](long long major, long long minor) {
    return line.xMajor ? top - minor * line.rowBytes + 3 * major
                       : top - major * line.rowBytes + 3 * minor;
  };
  long long major = line.major0 + line.majorStep * line.first;
  const long long count = line.last - line.first + 1;
  if (!patterned && line.spanLow == 0 && line.spanHigh == 0 && !line.on->LeavesAlone()) {
    // The minor coordinate moves monotonically, so the two ends tell whether all is inside.
    const long long steps = line.denominator / 2;
    const long long minorFirst = line.minor0 + quotient;
    const long long minorLast =
        line.minor0 +
        static_cast<long long>(
            ceil_div(static_cast<__int128>(line.increment) * line.last - steps, line.denominator));
    if (std::min(minorFirst, minorLast) >= 0 && std::max(minorFirst, minorLast) < line.minorLimit) {
      const std::ptrdiff_t majorBytes =
          line.xMajor ? 3 * line.majorStep : -line.rowBytes * line.majorStep;
      const std::ptrdiff_t minorUnit = line.xMajor ? -line.rowBytes : 3;
      const std::ptrdiff_t minorBytes = line.increment > 0 ? minorUnit : -minorUnit;
      if (line.on->Constant())
        ink_thin_line<true>(at(major, minorFirst), majorBytes, minorBytes, count, remainder,
                            line.increment, line.denominator, *line.on);
      else
        ink_thin_line<false>(at(major, minorFirst), majorBytes, minorBytes, count, remainder,
                             line.increment, line.denominator, *line.on);
      return;
    }
  }
  for (long long i = line.first; i <= line.last; ++i, major += line.majorStep) {
    const Ink* ink = run % 2 == 0 ? line.on : line.gap;
    if (ink) {
      long long minor = line.minor0 + quotient;
      long long lo = std::max<long long>(minor + line.spanLow, 0);
      long long hi = std::min<long long>(minor + line.spanHigh, line.minorLimit - 1);
      if (lo <= hi) apply_ink(at(major, lo), line.xMajor ? -line.rowBytes : 3, hi - lo + 1, *ink);
    }
    // |increment| <= denominator, so one correction is always enough.
    remainder -= line.increment;
    if (remainder < 0) {
      ++quotient;
      remainder += line.denominator;
    } else if (remainder >= line.denominator) {
      --quotient;
      remainder -= line.denominator;
    }
    if (patterned && ++phase == line.runs[run]) {
      phase = 0;
      if (++run == line.runCount) run = 0;
    }
  }
}

using SpanFn = void (*)(std::uint8_t*, const std::uint8_t*, std::size_t);

template <int... Modes>
constexpr SpanFn span_for(int mode, std::integer_sequence<int, Modes...>) {
  SpanFn table[] = {&apply_span<Modes + 1>...};
  return table[mode - 1];
}

SpanFn span_fn(int mode) { return span_for(mode, std::make_integer_sequence<int, 16>{}); }

// Pen patterns of a width-1 pen, in pixels along the major axis, starting "on".
struct Dashes {
  const int* runs;
  int count;
};
constexpr int kSolid[] = {1};
constexpr int kDash[] = {18, 6};
constexpr int kDot[] = {3, 3};
constexpr int kDashDot[] = {9, 6, 3, 6};
constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};

// A place in a pen pattern: the run and how many of its pixels are already passed.
struct DashPos {
  int run = 0;
  long long phase = 0;
};

// Moves the place on by `pixels` pixels of the pattern.
void Advance(const Dashes& dashes, DashPos* pos, long long pixels) {
  if (dashes.count < 2) return;
  long long period = 0, offset = pos->phase;
  for (int k = 0; k < dashes.count; ++k) {
    period += dashes.runs[k];
    if (k < pos->run) offset += dashes.runs[k];
  }
  offset = (offset + pixels % period) % period;
  pos->run = 0;
  while (offset >= dashes.runs[pos->run]) offset -= dashes.runs[pos->run++];
  pos->phase = offset;
}

struct FreeBits {
  void operator()(std::uint8_t* bits) const { std::free(bits); }
};
using PixelMemory = std::unique_ptr<std::uint8_t, FreeBits>;

class SoftDevice final : public Device {
 public:
  SoftDevice(int width, int height, PixelMemory bits)
      : width_(width),
        height_(height),
        rowBytes_(static_cast<int>(RowBytes(width, 24))),
        memory_(std::move(bits)),
        bits_(memory_.get()) {}

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
        brush_ = object ? static_cast<const SoftBrush*>(object)->settings : BrushSpec{0, kWhite, 0};
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
    if (pen_.style == 5) {
      // Without a pen the fill covers the rectangle less its right column and bottom row.
      if (brush_.style == 0) FillRect(l, t, r - 1, b - 1, brush_.color);
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
      if (brush_.style == 0) FillRect(l + 1, t + 1, r - 1, b - 1, brush_.color);
      return;
    }
    if (w == 1 && brush_.style == 0 && r - l > 2 && b - t > 2) {
      // Thin outline around a fill: each inner row is one span of pen, brush, pen.
      FillRect(l, t, r, t + 1, pen_.color);
      FillRect(l, b - 1, r, b, pen_.color);
      FillRows(l, t + 1, r, b - 1, pen_.color, brush_.color);
      return;
    }
    if (brush_.style == 0) FillRect(l + 1, t + 1, r - 1, b - 1, brush_.color);
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
    auto* to = static_cast<PixelTarget*>(target);
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
      std::memcpy(to->top + (dy + row) * to->stride + dx * 3,
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
    return bits_ + static_cast<std::size_t>(height_ - 1 - y) * rowBytes_ + 3 * x;
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
      apply_ink(start, -static_cast<std::ptrdiff_t>(rowBytes_), b - t,
                InkFor(rop2_, Pattern(c, 3)));
      return;
    }
    std::size_t bytes = static_cast<std::size_t>(r - l) * 3;
    const std::uint8_t* pattern = Pattern(c, bytes);
    SpanFn fn = span_fn(rop2_);
    for (long long y = t; y < b; ++y, start -= rowBytes_) fn(start, pattern, bytes);
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
    SpanFn fn = span_fn(rop2_);
    std::uint8_t* start = Pixel(static_cast<int>(cl), static_cast<int>(t));
    for (long long y = t; y < b; ++y, start -= rowBytes_) fn(start, rowBuffer_.data(), bytes);
  }

  // Like FillRect, but plain copies whatever the mix mode.
  void CopyRect(long long l, long long t, long long r, long long b, Color c) {
    if (!Clip(&l, &t, &r, &b)) return;
    std::size_t bytes = static_cast<std::size_t>(r - l) * 3;
    const std::uint8_t* pattern = Pattern(c, bytes);
    for (long long y = t; y < b; ++y)
      std::memcpy(Pixel(static_cast<int>(l), static_cast<int>(y)), pattern, bytes);
  }

  // The colour repeated as blue-green-red bytes, at least `bytes` long. Two colours are kept,
  // since dotted lines alternate between the pen and the background colour.
  const std::uint8_t* Pattern(Color c, std::size_t bytes) {
    PatternSlot* slot = patterns_[0].color == c   ? &patterns_[0]
                        : patterns_[1].color == c ? &patterns_[1]
                                                  : nullptr;
    if (!slot) {
      slot = &patterns_[nextPattern_];
      nextPattern_ ^= 1;
      slot->color = c;
      slot->bytes.clear();
    }
    std::vector<std::uint8_t>& data = slot->bytes;
    if (data.size() < bytes) {
      std::size_t size = std::max<std::size_t>(bytes, 48);
      data.resize(size);
      data[0] = static_cast<std::uint8_t>(BlueOf(c));
      data[1] = static_cast<std::uint8_t>(GreenOf(c));
      data[2] = static_cast<std::uint8_t>(RedOf(c));
      for (std::size_t filled = 3; filled < size; filled *= 2)
        std::memcpy(data.data() + filled, data.data(), std::min(filled, size - filled));
    }
    return data.data();
  }

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

  // The pattern of the selected pen: only width-1 pens have one.
  Dashes PenDashes() const {
    if (std::max(1, pen_.width) == 1) {
      switch (pen_.style) {
        case 1: return {kDash, 2};
        case 2: return {kDot, 2};
        case 3: return {kDashDot, 4};
        case 4: return {kDashDotDot, 6};
        default: break;
      }
    }
    return {kSolid, 1};
  }
  bool Dashed() const { return PenDashes().count > 1; }

  // The pen's colour, and the white of opaque pattern gaps, through the mix mode.
  Ink PenInk() const {
    const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(BlueOf(pen_.color)),
                                 static_cast<std::uint8_t>(GreenOf(pen_.color)),
                                 static_cast<std::uint8_t>(RedOf(pen_.color))};
    return InkFor(rop2_, bgr);
  }
  Ink WhiteInk() const {
    const std::uint8_t white[3] = {0xFF, 0xFF, 0xFF};
    return InkFor(rop2_, white);
  }

  // Steps along the major axis from the start point (drawn) to the end point (left out); the
  // minor coordinate is the exact value rounded to nearest, halves to the smaller coordinate.
  // The pattern starts at `dash`, which is left where the line ends, clipped or not.
  void DrawLine(int x0, int y0, int x1, int y1, DashPos* dash) {
    if (pen_.style == 5) return;
    long long dx = static_cast<long long>(x1) - x0, dy = static_cast<long long>(y1) - y0;
    long long steps = std::max(std::llabs(dx), std::llabs(dy));
    if (steps == 0) return;
    const Dashes dashes = PenDashes();
    const DashPos start = *dash;
    Advance(dashes, dash, steps);
    bool xMajor = std::llabs(dx) >= std::llabs(dy);
    long long major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
    long long majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1;
    long long minorDelta = xMajor ? dy : dx;
    long long majorLimit = xMajor ? width_ : height_;

    // Only steps whose major coordinate lies on the surface can draw anything.
    long long first = 0, last = steps - 1;
    if (majorStep > 0) {
      first = std::max(first, -major0);
      last = std::min(last, majorLimit - 1 - major0);
    } else {
      first = std::max(first, major0 - (majorLimit - 1));
      last = std::min(last, major0);
    }

    int width = std::max(1, pen_.width);
    if (first > last) return;
    bool fillGaps = bkMode_ == kOpaque;
    SpanFn fn = span_fn(rop2_);

    // Walk the pattern run by run from the first visible step.
    DashPos at = start;
    Advance(dashes, &at, first);
    int run = at.run;
    long long phase = at.phase;

    if (minorDelta == 0 && width == 1) {
      // Straight along a row or a column: one pass over the visible pixels.
      if (minor0 < 0 || minor0 >= (xMajor ? height_ : width_)) return;
      long long major = major0 + majorStep * first;
      std::uint8_t* origin = xMajor ? Pixel(static_cast<int>(major), static_cast<int>(minor0))
                                    : Pixel(static_cast<int>(minor0), static_cast<int>(major));
      std::ptrdiff_t stride = majorStep * (xMajor ? 3 : -static_cast<std::ptrdiff_t>(rowBytes_));
      const Ink on = PenInk(), white = fillGaps ? WhiteInk() : Ink{};
      long long count = last - first + 1;
      if (dashes.count == 1) {
        if (xMajor && stride < 0) origin -= 3 * (count - 1);
        if (xMajor) {
          std::size_t bytes = static_cast<std::size_t>(count) * 3;
          fn(origin, Pattern(pen_.color, bytes), bytes);
        } else {
          if (stride > 0) origin += stride * (count - 1);
          apply_ink(origin, -static_cast<std::ptrdiff_t>(rowBytes_), count, on);
        }
        return;
      }
      apply_dashed(DashedLine{origin, stride, count, dashes.runs, dashes.count, run, phase, &on,
                              fillGaps ? &white : nullptr});
      return;
    }

    // The minor coordinate is ceil((2 * delta * i - steps) / (2 * steps)) past minor0, kept as
    // quotient and remainder and advanced without dividing.
    const long long denominator = 2 * steps, increment = 2 * minorDelta;
    __int128 numerator = static_cast<__int128>(increment) * first - steps;
    long long quotient = static_cast<long long>(ceil_div(numerator, denominator));
    long long remainder =
        static_cast<long long>(static_cast<__int128>(quotient) * denominator - numerator);
    long long spanLow = -(width - 1) / 2, spanHigh = width / 2;
    const Ink on = PenInk(), white = fillGaps ? WhiteInk() : Ink{};
    apply_sloped(SlopedLine{bits_,       rowBytes_,
                            height_,     xMajor ? height_ : width_,
                            xMajor,      major0,
                            majorStep,   minor0,
                            first,       last,
                            quotient,    remainder,
                            denominator, increment,
                            spanLow,     spanHigh,
                            dashes.runs, dashes.count,
                            run,         phase,
                            &on,         fillGaps ? &white : nullptr});
  }

  int width_;
  int height_;
  int rowBytes_;
  PixelMemory memory_;
  std::uint8_t* bits_;
  bool blank_ = true;  // not yet cleared: no pixel has been read or written
  PenSpec pen_;
  BrushSpec brush_{0, kWhite, 0};
  const SoftFont* font_ = nullptr;
  FontInstance* defaultFont_ = nullptr;
  bool defaultLooked_ = false;
  int bkMode_ = kOpaque;
  int rop2_ = kMixCopyPen;
  Color textColor_ = kNewTextColor;
  int curX_ = 0;
  int curY_ = 0;
  struct PatternSlot {
    Color color = kInvalidColor;
    std::vector<std::uint8_t> bytes;
  };
  PatternSlot patterns_[2];
  std::vector<std::uint8_t> rowBuffer_;
  int nextPattern_ = 0;
};

class SoftBackendImpl final : public Backend {
 public:
  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    if (!SurfaceFits(desc.width, desc.height, 24) || desc.bitsPerPixel != 24) return nullptr;
    std::int64_t bytes = RowBytes(desc.width, 24) * desc.height;
    // A new surface is all black (the device clears it before its first use). The memory is
    // owned from here on, also when the device holding it cannot be made.
    PixelMemory bits(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(bytes))));
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
