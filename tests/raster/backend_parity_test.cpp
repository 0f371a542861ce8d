// The software back end against GDI: the same drawing over the same picture must leave the same
// bytes in both surfaces. Windows only, since only there is GDI to compare with.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "raster/canvas.h"
#include "raster/device.h"

namespace norvisk {
namespace {

// Odd sizes: every row ends in padding bytes, which no drawing may touch.
constexpr int kWidth = 162;
constexpr int kHeight = 121;

// What a scene returns besides its pixels: LineTo results, GetPixel values, previous modes.
using Results = std::vector<std::uint32_t>;
using Scene = void (*)(Canvas& c, Results* out);

// A picture in every pixel whose bits vary in all three channels, so that each mix mode gives
// something other than what it is combined with.
void PaintGradient(Canvas& c) {
  const SurfaceBits b = c.Bits();
  for (int row = 0; row < b.height; ++row) {
    const int y = b.height - 1 - row;
    std::uint8_t* p = b.bits + static_cast<std::size_t>(row) * b.rowBytes;
    for (int x = 0; x < b.width; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);
      p[1] = static_cast<std::uint8_t>(y * 255 / (b.height - 1));
      p[2] = static_cast<std::uint8_t>(x * 255 / (b.width - 1));
    }
  }
}

Color PixelAt(const SurfaceBits& b, int x, int y) {
  const std::uint8_t* p = b.bits + static_cast<std::size_t>(b.height - 1 - y) * b.rowBytes + 3 * x;
  return MakeColor(p[2], p[1], p[0]);
}

std::string Hex(Color c) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(c));
  return text;
}

// The whole surface memory, padding included; on a difference, where and how many.
::testing::AssertionResult SameSurface(const Canvas& gdi, const Canvas& soft) {
  const SurfaceBits g = gdi.Bits();
  const SurfaceBits s = soft.Bits();
  if (!g.bits || !s.bits || g.width != s.width || g.height != s.height || g.rowBytes != s.rowBytes)
    return ::testing::AssertionFailure() << "the surfaces are not alike";
  const std::size_t bytes = static_cast<std::size_t>(g.rowBytes) * g.height;
  if (std::memcmp(g.bits, s.bits, bytes) == 0) return ::testing::AssertionSuccess();

  auto failure = ::testing::AssertionFailure();
  int differing = 0;
  // Top row first, left to right: the first difference as one would spot it on screen.
  for (int y = 0; y < g.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(g.height - 1 - y) * g.rowBytes;
    for (int x = 0; x < g.width; ++x) {
      const Color a = PixelAt(g, x, y), b = PixelAt(s, x, y);
      if (a == b) continue;
      if (differing < 8) {
        failure << (differing == 0 ? "first differing pixel" : "\n  then") << " (" << x << ", " << y
                << "): GDI " << Hex(a) << ", software " << Hex(b);
      }
      ++differing;
    }
    if (std::memcmp(g.bits + row + 3 * g.width, s.bits + row + 3 * s.width,
                    g.rowBytes - 3 * g.width) != 0) {
      failure << "\n  padding of row " << y << " differs";
    }
  }
  failure << "\n  " << differing << " pixels differ";
  return failure;
}

void RunOnBoth(Scene scene) {
  Canvas gdi(kWidth, kHeight, GdiBackend());
  Canvas soft(kWidth, kHeight, SoftBackend());
  ASSERT_TRUE(gdi.ready());
  ASSERT_TRUE(soft.ready());
  PaintGradient(gdi);
  PaintGradient(soft);
  ASSERT_TRUE(SameSurface(gdi, soft)) << "before drawing";

  Results fromGdi, fromSoft;
  scene(gdi, &fromGdi);
  scene(soft, &fromSoft);
  EXPECT_EQ(fromGdi, fromSoft) << "results of the calls";
  EXPECT_TRUE(SameSurface(gdi, soft));
}

void Line(Canvas& c, Results* out, int x0, int y0, int x1, int y1) {
  c.MoveTo(x0, y0);
  out->push_back(c.LineTo(x1, y1));
}

// --- Scenes -----------------------------------------------------------------------------------

// The frame and the dotted grid of a graph, then bars drawn over it through the mask pen.
void GraphFrameAndGrid(Canvas& c, Results* out) {
  const int x = 12, y = 7, w = 140, h = 101;
  c.SetPen(0, 1, 0, 0, 0);
  c.SetBrushStyle(1);
  c.DrawRectangle(x, y, x + w, y + h);
  c.SetPen(2, 1, 128, 128, 128);
  c.SetMixMode(kMixMaskPen);
  for (int k = 1; k <= 9; ++k) Line(c, out, x, y + h * k / 10, x + w, y + h * k / 10);
  for (int k = 1; k <= 4; ++k) Line(c, out, x + w * k / 5, y, x + w * k / 5, y + h);
  c.SetBrushStyle(0);
  c.SetPen(0, 1, 0, 0, 0);
  // Stacked bars: bottom above top, as a graph passes them.
  const Color colors[] = {MakeColor(255, 0, 0), MakeColor(0, 160, 60), MakeColor(40, 40, 255)};
  int left = x + 3;
  for (int bar = 0; bar < 6; ++bar, left += 22) {
    int below = y + h;
    for (int s = 0; s < 3; ++s) {
      const int above = below - (7 + 5 * ((bar + s) % 4));
      c.SetBrushColor(colors[s]);
      c.SetPenColor(colors[s]);
      c.DrawRectangle(left, below, left + 17, above);
      below = above;
    }
  }
}

// Filled rectangles with outlines through the mask pen, from 1 x 1 up, with the outline and the
// fill in different colours; then the same over a hollow brush.
void MaskPenRectangles(Canvas& c, Results*) {
  c.SetMixMode(kMixMaskPen);
  for (unsigned brush : {0u, 1u}) {
    c.SetBrushStyle(brush);
    const int top = brush == 0 ? 4 : 60;
    int left = 3;
    for (int size = 1; size <= 12; ++size) {
      c.SetBrushColor(MakeColor(0x3F + 16 * size, 0xF0, 0x9C));
      c.SetPenColor(MakeColor(0xC8, 0x5A + 8 * size, 0x77));
      c.DrawRectangle(left, top, left + size, top + size + size / 2);
      left += size + 2;
    }
    // Overlapping: the mask pen keeps only bits both have.
    c.SetBrushColor(MakeColor(0xF0, 0x0F, 0xAA));
    c.SetPenColor(MakeColor(0x55, 0xFF, 0x33));
    c.DrawRectangle(10, top + 25, 60, top + 50);
    c.DrawRectangle(40, top + 35, 90, top + 55);
  }
}

// Corners in any order, empty rectangles, and the thinnest ones, over solid and hollow brushes
// and with the null pen.
void RectangleCorners(Canvas& c, Results*) {
  c.SetBrushStyle(0);
  c.SetBrushColor(MakeColor(250, 200, 20));
  c.SetPenColor(MakeColor(20, 30, 200));
  c.DrawRectangle(30, 20, 5, 5);     // both swapped
  c.DrawRectangle(35, 20, 60, 5);    // top and bottom swapped
  c.DrawRectangle(85, 5, 65, 20);    // left and right swapped
  c.DrawRectangle(90, 10, 90, 30);   // no width
  c.DrawRectangle(95, 10, 120, 10);  // no height
  c.DrawRectangle(100, 20, 100, 20);
  c.DrawRectangle(125, 5, 126, 25);  // one column
  c.DrawRectangle(130, 5, 132, 25);  // two columns
  c.DrawRectangle(135, 5, 138, 25);  // three: the first with an inside
  c.DrawRectangle(5, 30, 40, 31);    // one row
  c.DrawRectangle(5, 35, 40, 37);
  c.DrawRectangle(5, 40, 40, 43);
  // Partly and wholly outside the surface.
  c.DrawRectangle(-20, 50, 15, 70);
  c.DrawRectangle(150, 110, 200, 140);
  c.DrawRectangle(-40, -40, -5, -5);
  c.DrawRectangle(-100000, 80, 100000, 90);
  c.SetBrushStyle(1);
  c.DrawRectangle(60, 60, 20, 40);
  c.DrawRectangle(70, 45, 71, 75);
  c.SetBrushStyle(0);
  c.SetPen(5, 1, 0, 0, 0);
  c.DrawRectangle(100, 40, 80, 60);
  c.DrawRectangle(110, 40, 111, 60);
  c.DrawRectangle(115, 40, 117, 41);
}

// Lines from a centre in all eight octants, outwards and inwards, with lengths that land the
// exact minor coordinate on halves and some that do not.
void DiagonalOctants(Canvas& c, Results* out) {
  struct Step {
    int major, minor;
  };
  const Step steps[] = {{4, 1}, {2, 1}, {8, 2}, {6, 3}, {7, 3}, {5, 2}, {9, 9}, {9, 4}, {6, 1}};
  int cell = 0;
  for (const Step& s : steps) {
    for (bool inwards : {false, true}) {
      const int cx = 10 + 20 * (cell % 8), cy = 10 + 20 * (cell / 8);
      ++cell;
      int n = 0;
      for (int sx : {1, -1}) {
        for (int sy : {1, -1}) {
          for (bool xMajor : {true, false}) {
            const int ex = cx + sx * (xMajor ? s.major : s.minor);
            const int ey = cy + sy * (xMajor ? s.minor : s.major);
            c.SetPenColor(MakeColor(40 * n, 255 - 30 * n, (n * 97) & 0xFF));
            ++n;
            if (inwards)
              Line(c, out, ex, ey, cx, cy);
            else
              Line(c, out, cx, cy, ex, ey);
          }
        }
      }
    }
  }
  // Continuing from the current position: a closed polygon of short diagonals.
  c.SetPenColor(MakeColor(255, 255, 255));
  c.MoveTo(20, 110);
  for (auto [x, y] : {std::pair{24, 111},
                      {26, 112},
                      {27, 114},
                      {27, 118},
                      {23, 117},
                      {21, 116},
                      {20, 114},
                      {20, 110}}) {
    out->push_back(c.LineTo(x, y));
  }
}

// Dashed and dotted pens, background opaque and transparent, in every direction, with the start
// off the surface so that the pattern is met part way through.
void PatternedLines(Canvas& c, Results* out) {
  int y = 3;
  for (int style : {1, 2, 3, 4}) {
    for (int mode : {kOpaque, kTransparent}) {
      out->push_back(static_cast<std::uint32_t>(c.SetBackgroundMode(mode)));
      c.SetPen(style, 1, 200, 20 * style, 90);
      Line(c, out, 2, y, 158, y);            // rightwards
      Line(c, out, 158, y + 2, 2, y + 2);    // leftwards
      Line(c, out, -13, y + 4, 150, y + 4);  // started off the surface
      Line(c, out, 2, y + 6, 150, y + 11);   // shallow
      Line(c, out, 150, y + 13, 3, y + 8);   // shallow, backwards
      y += 14;
    }
  }
  // Columns, steep lines and lines from below the surface.
  int x = 3;
  for (int style : {1, 2}) {
    for (int mode : {kOpaque, kTransparent}) {
      c.SetBackgroundMode(mode);
      c.SetPen(style, 1, 10, 250, 10 * style);
      Line(c, out, x, 0, x, 120);
      Line(c, out, x + 2, 119, x + 2, 1);
      Line(c, out, x + 4, 200, x + 4, 5);
      Line(c, out, x + 6, 2, x + 11, 118);
      Line(c, out, x + 16, 119, x + 12, 3);
      x += 20;
    }
  }
  // A pen of width 0 is as thin as one of width 1; the null pen draws nothing.
  c.SetPen(2, 0, 250, 250, 0);
  Line(c, out, 85, 3, 160, 40);
  c.SetPen(5, 1, 250, 250, 0);
  Line(c, out, 85, 8, 160, 45);
  // The gaps go through the mix mode too.
  c.SetBackgroundMode(kOpaque);
  c.SetPen(2, 1, 0x12, 0x34, 0x56);
  for (int mode : {7, 9, 10, 6}) {
    c.SetMixMode(mode);
    Line(c, out, 90, 30 + 4 * mode, 160, 30 + 4 * mode);
    Line(c, out, 90 + 6 * mode, 70, 100 + 6 * mode, 118);
  }
}

// Rectangle outlines in patterned pens: the pattern runs on around the corners. Each in a mix
// mode of its own, over a solid or a hollow brush.
void PatternedOutlines(Canvas& c, Results*) {
  const int mixModes[] = {kMixCopyPen, 7, 2, kMixMaskPen, 6, 16, 4, 11};
  int left = 2, k = 0;
  for (int style : {1, 2, 3, 4}) {
    for (int mode : {kOpaque, kTransparent}) {
      c.SetBackgroundMode(mode);
      c.SetMixMode(mixModes[k++]);
      c.SetPen(style, 1, 30 * style, 200, 60);
      c.SetBrushStyle(style % 2);
      c.SetBrushColor(MakeColor(0x80, 0x10, 0xF0));
      c.DrawRectangle(left, 3, left + 17, 50);
      c.DrawRectangle(left + 3, 110, left + 1, 60);
      c.DrawRectangle(left + 5, 55, left + 6, 119);
      c.DrawRectangle(left + 7, 58, left + 16, 59);
      left += 20;
    }
  }
}

// Lines with one end far outside the surface, beyond anything a walk could cover.
void FarEndPoints(Canvas& c, Results* out) {
  const struct {
    int x0, y0, x1, y1;
  } lines[] = {
      {10, 10, 1000000, 37},       {150, 20, -5000000, 90},  {80, 60, 80, -2000000},
      {20, 100, 3000000, 3000000}, {-700000, 5, 160, 115},   {40, 0, 41, 2000000000},
      {5, 60, 2000000000, 61},     {100, 119, -1000, -1000}, {-30000, 40, 30000, 41},
      {70, -30000, 72, 30000},     {160, 0, -32768, 32767},  {0, 120, 32767, -32768},
  };
  int n = 0;
  for (const auto& l : lines) {
    c.SetPenColor(MakeColor(255 - 20 * n, 17 * n, 128 + 10 * n));
    ++n;
    Line(c, out, l.x0, l.y0, l.x1, l.y1);
  }
  c.SetBackgroundMode(kOpaque);
  c.SetPen(2, 1, 0, 0, 0);
  Line(c, out, 3, 3, 5000000, 200000);
  c.SetPen(1, 1, 0, 0, 255);
  Line(c, out, -5000000, 110, 150, 113);
}

// Each of the 16 mix modes in a cell of its own: a line, a hollow outline, a filled rectangle
// with its outline, and a dotted line with opaque gaps.
void AllMixModes(Canvas& c, Results* out) {
  for (int mode = 1; mode <= 16; ++mode) {
    const int left = 2 + 40 * ((mode - 1) % 4), top = 2 + 30 * ((mode - 1) / 4);
    c.SetMixMode(mode);
    c.SetBackgroundMode(kOpaque);
    c.SetPen(0, 1, 0x5A, 0xC3, 0x0F);
    Line(c, out, left, top, left + 37, top + 9);
    Line(c, out, left + 36, top + 1, left + 36, top + 27);
    c.SetBrushStyle(1);
    c.DrawRectangle(left, top + 3, left + 15, top + 14);
    c.SetBrushStyle(0);
    c.SetBrushColor(MakeColor(0x96, 0x3C, 0xE1));
    c.DrawRectangle(left + 17, top + 12, left + 33, top + 27);
    c.DrawRectangle(left + 2, top + 16, left + 4, top + 18);
    // One column and one row: the outline passes over their pixels from both sides.
    c.DrawRectangle(left + 6, top + 16, left + 7, top + 27);
    c.DrawRectangle(left + 8, top + 17, left + 15, top + 18);
    c.DrawRectangle(left + 9, top + 19, left + 10, top + 20);
    c.SetPen(2, 1, 0xF0, 0x81, 0x42);
    Line(c, out, left + 1, top + 25, left + 15, top + 21);
  }
  // An invalid mode is ignored: the last valid one stays.
  c.SetMixMode(0);
  c.SetMixMode(17);
  c.SetPen(0, 1, 0xAA, 0x55, 0xCC);
  Line(c, out, 0, 120, 161, 0);
}

// Queries: pixels outside the surface and the previous background mode.
void Queries(Canvas& c, Results* out) {
  for (auto [x, y] : {std::pair{-1, 0},
                      {0, -1},
                      {kWidth, 0},
                      {0, kHeight},
                      {kWidth, kHeight},
                      {-100000, 50},
                      {50, 100000},
                      {0, 0},
                      {kWidth - 1, kHeight - 1},
                      {77, 33}}) {
    out->push_back(c.GetPixel(x, y));
  }
  out->push_back(static_cast<std::uint32_t>(c.SetBackgroundMode(kTransparent)));
  out->push_back(static_cast<std::uint32_t>(c.SetBackgroundMode(kOpaque)));
  out->push_back(static_cast<std::uint32_t>(c.SetBackgroundMode(7)));
  out->push_back(static_cast<std::uint32_t>(c.SetBackgroundMode(kTransparent)));
  // A line of no length draws nothing and still succeeds.
  Line(c, out, 40, 40, 40, 40);
  out->push_back(c.GetPixel(40, 40));
}

struct SceneCase {
  const char* name;
  Scene scene;
};

void PrintTo(const SceneCase& c, std::ostream* os) { *os << c.name; }

class BackendParity : public ::testing::TestWithParam<SceneCase> {};

TEST_P(BackendParity, SoftwareGivesTheSamePixelsAsGdi) { RunOnBoth(GetParam().scene); }

// Everything above in one go on one surface, as a graph draws one thing after another.
TEST(BackendParityAll, OneSceneAfterAnother) {
  RunOnBoth([](Canvas& c, Results* out) {
    GraphFrameAndGrid(c, out);
    MaskPenRectangles(c, out);
    RectangleCorners(c, out);
    DiagonalOctants(c, out);
    PatternedLines(c, out);
    FarEndPoints(c, out);
    AllMixModes(c, out);
    Queries(c, out);
  });
}

INSTANTIATE_TEST_SUITE_P(Scenes, BackendParity,
                         ::testing::Values(SceneCase{"GraphFrameAndGrid", GraphFrameAndGrid},
                                           SceneCase{"MaskPenRectangles", MaskPenRectangles},
                                           SceneCase{"RectangleCorners", RectangleCorners},
                                           SceneCase{"DiagonalOctants", DiagonalOctants},
                                           SceneCase{"PatternedLines", PatternedLines},
                                           SceneCase{"FarEndPoints", FarEndPoints},
                                           SceneCase{"PatternedOutlines", PatternedOutlines},
                                           SceneCase{"AllMixModes", AllMixModes},
                                           SceneCase{"Queries", Queries}),
                         [](const ::testing::TestParamInfo<SceneCase>& scene) {
                           return std::string(scene.param.name);
                         });

}  // namespace
}  // namespace norvisk
