// Lines of the software back end against a plain pixel-by-pixel model of the GDI line rules:
// every octant and direction, every pen style and width, every mix mode, both background modes,
// end points on, inside and far beyond every edge of the surface.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "raster/canvas.h"
#include "raster/device.h"

namespace norvisk {
namespace {

constexpr int kW = 37;
constexpr int kH = 23;

// A surface as the model sees it: colours by (x, y), y downwards.
struct Picture {
  std::vector<Color> pixels = std::vector<Color>(kW * kH);
  Color& at(long long x, long long y) { return pixels[y * kW + x]; }
};

// One byte of a binary raster operation: bit k of (mode - 1) is the result for pen bit P and
// destination bit D with k = 2P + D, taken bit by bit.
std::uint8_t RopByte(int mode, std::uint8_t d, std::uint8_t p) {
  std::uint8_t r = 0;
  for (int bit = 0; bit < 8; ++bit) {
    int pb = (p >> bit) & 1, db = (d >> bit) & 1;
    if (((mode - 1) >> (2 * pb + db)) & 1) r |= static_cast<std::uint8_t>(1 << bit);
  }
  return r;
}

Color Rop(int mode, Color d, Color p) {
  return MakeColor(RopByte(mode, RedOf(d), RedOf(p)), RopByte(mode, GreenOf(d), GreenOf(p)),
                   RopByte(mode, BlueOf(d), BlueOf(p)));
}

struct Pen {
  int style;
  int width;
  Color color;
};

// Whether step `i` of a line is "on" in the pattern of the pen; the pattern starts at the
// line's first point.
bool PatternOn(const Pen& pen, long long i) {
  std::vector<int> runs;
  if (pen.width <= 1) {
    switch (pen.style) {
      case 1: runs = {18, 6}; break;
      case 2: runs = {3, 3}; break;
      case 3: runs = {9, 6, 3, 6}; break;
      case 4: runs = {9, 3, 3, 3, 3, 3}; break;
      default: break;
    }
  }
  if (runs.empty()) return true;
  long long period = 0;
  for (int r : runs) period += r;
  long long offset = i % period;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    if (offset < runs[k]) return k % 2 == 0;
    offset -= runs[k];
  }
  return true;
}

// floor(a / b) for b > 0.
__int128 FloorDiv(__int128 a, __int128 b) {
  __int128 q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// From (x0, y0) to (x1, y1), the end point left out: for every step along the major axis whose
// major coordinate is on the surface, the minor coordinate is the exact line value rounded to
// nearest with halves to the smaller, and a span of the pen width is drawn across it.
void ModelLine(Picture* pic, const Pen& pen, int mode, bool opaque, int x0, int y0, int x1,
               int y1) {
  if (pen.style == 5) return;
  long long dx = static_cast<long long>(x1) - x0, dy = static_cast<long long>(y1) - y0;
  long long adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  long long steps = adx > ady ? adx : ady;
  if (steps == 0) return;
  bool xMajor = adx >= ady;
  long long major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
  long long majorDelta = xMajor ? dx : dy, minorDelta = xMajor ? dy : dx;
  long long sign = majorDelta > 0 ? 1 : -1;
  long long majorLimit = xMajor ? kW : kH, minorLimit = xMajor ? kH : kW;
  int width = pen.width < 1 ? 1 : pen.width;
  long long low = -(width - 1) / 2, high = width / 2;
  // Each major coordinate on the surface is at most one step of the line.
  for (long long major = 0; major < majorLimit; ++major) {
    long long i = (major - major0) * sign;
    if (i < 0 || i >= steps) continue;
    bool on = PatternOn(pen, i);
    if (!on && !opaque) continue;
    Color c = on ? pen.color : 0xFFFFFF;
    // minor = ceil(exact - 1/2) = -floor((steps - 2 * delta * i) / (2 * steps)).
    __int128 num = static_cast<__int128>(steps) - static_cast<__int128>(2) * minorDelta * i;
    long long minor =
        minor0 - static_cast<long long>(FloorDiv(num, 2 * static_cast<__int128>(steps)));
    for (long long s = low; s <= high; ++s) {
      long long m = minor + s;
      if (m < 0 || m >= minorLimit) continue;
      long long x = xMajor ? major : m, y = xMajor ? m : major;
      pic->at(x, y) = Rop(mode, pic->at(x, y), c);
    }
  }
}

// A fixed pseudo-random background, so that every mix mode changes something visible.
void Background(Canvas& c, Picture* pic, unsigned seed) {
  std::uint32_t state = seed * 2654435761u + 12345u;
  SurfaceBits b = c.Bits();
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      std::uint8_t* p = b.bits + y * b.rowBytes + 3 * x;
      for (int k = 0; k < 3; ++k) {
        state = state * 1664525u + 1013904223u;
        p[k] = static_cast<std::uint8_t>(state >> 24);
      }
    }
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) pic->at(x, y) = c.GetPixel(x, y);
}

// The first pixel where canvas and model differ, or an empty string.
std::string FirstDifference(Canvas& c, Picture& pic) {
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (c.GetPixel(x, y) != pic.at(x, y)) {
        return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
               std::to_string(c.GetPixel(x, y)) + ", expected " + std::to_string(pic.at(x, y));
      }
  return {};
}

// Coordinates that matter: far beyond, just beyond, on and just inside every edge, the middle.
std::vector<int> Coordinates(int size) {
  return {INT_MIN,  INT_MIN + 1, -1000000007, -40,          -2,       -1,       0,
          1,        2,           size / 2,    size / 2 + 1, size - 2, size - 1, size,
          size + 1, size + 40,   1000000009,  INT_MAX - 1,  INT_MAX};
}

struct Line {
  int x0, y0, x1, y1;
};

// End points from the coordinate lists, plus nearby pairs so that lines of length 0, 1 and a few
// pixels in every direction occur, everywhere on the surface and across its edges.
std::vector<Line> Lines(unsigned seed, int count) {
  std::vector<int> xs = Coordinates(kW), ys = Coordinates(kH);
  std::uint32_t state = seed * 747796405u + 2891336453u;
  auto next = [&](std::uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  };
  std::vector<Line> lines;
  for (int k = 0; k < count; ++k) {
    Line l{};
    switch (next(3)) {
      case 0:  // both ends from the lists
        l = {xs[next(xs.size())], ys[next(ys.size())], xs[next(xs.size())], ys[next(ys.size())]};
        break;
      case 1: {  // short lines, one or two pixels beyond the surface at most
        int x = static_cast<int>(next(kW + 4)) - 2, y = static_cast<int>(next(kH + 4)) - 2;
        l = {x, y, x + static_cast<int>(next(7)) - 3, y + static_cast<int>(next(7)) - 3};
        break;
      }
      default: {  // anywhere on and around the surface, every slope
        l = {static_cast<int>(next(kW + 20)) - 10, static_cast<int>(next(kH + 20)) - 10,
             static_cast<int>(next(kW + 20)) - 10, static_cast<int>(next(kH + 20)) - 10};
        break;
      }
    }
    lines.push_back(l);
  }
  // Every octant and both directions through the middle, and the axes.
  const int cx = kW / 2, cy = kH / 2;
  for (int dx = -30; dx <= 30; dx += 5)
    for (int dy = -30; dy <= 30; dy += 5) lines.push_back({cx, cy, cx + dx, cy + dy});
  for (int d : {-17, -16, -9, -1, 1, 9, 16, 17}) {
    lines.push_back({cx, cy, cx + d, cy + d});
    lines.push_back({cx, cy, cx + d, cy - d});
    lines.push_back({cx, cy, cx + d, cy + 2 * d});
    lines.push_back({cx, cy, cx + 2 * d, cy + d});
  }
  return lines;
}

TEST(SoftLines, EveryPenMixModeAndBackgroundModeMatchThePixelModel) {
  const Color penColors[] = {MakeColor(0x12, 0x9A, 0xF0), MakeColor(0, 0, 0)};
  unsigned config = 0;
  for (int mode = 1; mode <= 16; ++mode)
    for (int style = 0; style <= 5; ++style)
      for (int width : {0, 1, 2, 3, 4, 7})
        for (bool opaque : {false, true}) {
          ++config;
          Canvas c(kW, kH, SoftBackend());
          ASSERT_TRUE(c.ready());
          Picture pic;
          Background(c, &pic, config);
          Pen pen{style, width, penColors[config % 2]};
          c.SetPen(style, width, RedOf(pen.color), GreenOf(pen.color), BlueOf(pen.color));
          c.SetMixMode(mode);
          c.SetBackgroundMode(opaque ? kOpaque : kTransparent);
          for (const Line& l : Lines(config, 40)) {
            c.MoveTo(l.x0, l.y0);
            c.LineTo(l.x1, l.y1);
            ModelLine(&pic, pen, mode, opaque, l.x0, l.y0, l.x1, l.y1);
            std::string diff = FirstDifference(c, pic);
            ASSERT_EQ(diff, "") << "mode " << mode << " style " << style << " width " << width
                                << (opaque ? " opaque" : " transparent") << ", line (" << l.x0
                                << ", " << l.y0 << ") to (" << l.x1 << ", " << l.y1 << ")";
          }
        }
}

// Every pair of the edge coordinates as end points, with the pens a chart uses.
TEST(SoftLines, EveryPairOfEdgePointsMatchesThePixelModel) {
  std::vector<int> xs = Coordinates(kW), ys = Coordinates(kH);
  struct Setup {
    Pen pen;
    int mode;
    bool opaque;
  };
  const Setup setups[] = {{{0, 1, MakeColor(200, 10, 60)}, kMixCopyPen, true},
                          {{2, 1, MakeColor(0, 0, 0)}, kMixMaskPen, true},
                          {{2, 1, MakeColor(90, 91, 92)}, 7, false},
                          {{0, 3, MakeColor(5, 250, 128)}, 7, true}};
  unsigned seed = 100;
  for (const Setup& s : setups) {
    Canvas c(kW, kH, SoftBackend());
    ASSERT_TRUE(c.ready());
    Picture pic;
    Background(c, &pic, ++seed);
    c.SetPen(s.pen.style, s.pen.width, RedOf(s.pen.color), GreenOf(s.pen.color),
             BlueOf(s.pen.color));
    c.SetMixMode(s.mode);
    c.SetBackgroundMode(s.opaque ? kOpaque : kTransparent);
    for (int x0 : xs)
      for (int y0 : ys)
        for (int x1 : xs)
          for (int y1 : ys) {
            c.MoveTo(x0, y0);
            c.LineTo(x1, y1);
            ModelLine(&pic, s.pen, s.mode, s.opaque, x0, y0, x1, y1);
          }
    EXPECT_EQ(FirstDifference(c, pic), "") << "style " << s.pen.style << " mode " << s.mode;
  }
}

}  // namespace
}  // namespace norvisk
