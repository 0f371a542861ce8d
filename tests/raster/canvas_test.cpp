// Canvas over the software back end: surface life cycle, GDI pixel rules, text placement.
#include "raster/canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster/device.h"
#include "raster/resource_image.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

constexpr Color kWhite = 0xFFFFFF;
constexpr Color kGrey = MakeColor(128, 128, 128);

void Fill(Canvas& c, Color color) {
  SurfaceBits b = c.Bits();
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      std::uint8_t* p = b.bits + y * b.rowBytes + 3 * x;
      p[0] = BlueOf(color);
      p[1] = GreenOf(color);
      p[2] = RedOf(color);
    }
}

// Every pixel that differs from `base`, as (x, y) pairs.
std::vector<std::pair<int, int>> Changed(Canvas& c, Color base) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < c.surfaceDesc().height; ++y)
    for (int x = 0; x < c.surfaceDesc().width; ++x)
      if (c.GetPixel(x, y) != base) out.emplace_back(x, y);
  return out;
}

TEST(CanvasSurface, ZeroOrNegativeSizeHasNoSurfaceAndEveryOperationIsHarmless) {
  for (auto [w, h] : {std::pair{0, 0}, {0, 300}, {640, 0}, {-5, 10}, {10, -1}}) {
    Canvas c(w, h);
    EXPECT_FALSE(c.ready());
    EXPECT_EQ(c.TextWidth("abc"), 0);
    EXPECT_EQ(c.TextHeight("abc"), 0);
    EXPECT_FALSE(c.LineTo(5, 5));
    EXPECT_EQ(c.GetPixel(0, 0), 0u);
    EXPECT_EQ(c.SetBackgroundMode(1), 0);
    EXPECT_EQ(c.TextColor(), 0u);
    PixelRows target;
    EXPECT_FALSE(c.CopyTo(&target, 0, 0, 1, 1, 0, 0));
    c.DrawRectangle(0, 0, 5, 5);
    c.DrawText(0, 0, "x");
    c.DrawVerticalText(0, 0, "x");
    EXPECT_EQ(c.Bits().bits, nullptr);
  }
}

TEST(CanvasSurface, ConstructionAtZeroSizeReportsSuccessForTheSameSize) {
  Canvas c(0, 0);
  EXPECT_TRUE(c.Resize(0, 0));
  EXPECT_FALSE(c.Resize(0, 300));
  EXPECT_TRUE(c.Resize(0, 300));  // the recorded size is kept even when no surface came of it
  EXPECT_FALSE(c.ready());
  EXPECT_TRUE(c.Resize(3, 2));
  EXPECT_TRUE(c.ready());
}

TEST(CanvasSurface, SurfacesOverTheMemoryLimitAreRefused) {
  Canvas c(100000, 100000);
  EXPECT_FALSE(c.ready());
  EXPECT_FALSE(c.Resize(0x7FFFFFFF, 0x7FFFFFFF));
  EXPECT_FALSE(c.ready());
  // Just over 256 MiB: 9363 * 3 = 28089 -> 28092 bytes a row.
  EXPECT_FALSE(c.Resize(9363, 9556));
  EXPECT_TRUE(c.Resize(640, 300));
  EXPECT_TRUE(c.ready());
}

TEST(CanvasSurface, NewSurfaceIsBlackWithGdiDefaults) {
  Canvas c(7, 5);
  ASSERT_TRUE(c.ready());
  EXPECT_TRUE(Changed(c, 0).empty());
  EXPECT_EQ(c.surfaceDesc().bitsPerPixel, 24);
  EXPECT_EQ(c.Bits().rowBytes, 24);      // 21 bytes of pixels padded to 24
  EXPECT_EQ(c.SetBackgroundMode(1), 2);  // opaque by default
  EXPECT_EQ(c.TextColor(), 0u);
  EXPECT_EQ(c.fontPoints(), 10);
  EXPECT_EQ(c.faceName(), "MS Sans Serif");
}

TEST(CanvasSurface, ResizeToTheSameSizeKeepsPictureAndStateAnotherSizeStartsAfresh) {
  Canvas c(20, 10);
  Fill(c, kWhite);
  c.SetBackgroundMode(1);
  c.SetMixMode(kMixMaskPen);
  c.SetPen(0, 1, 128, 128, 128);
  EXPECT_TRUE(c.Resize(20, 10));
  EXPECT_EQ(c.GetPixel(3, 3), kWhite);
  EXPECT_EQ(c.SetBackgroundMode(1), 1);
  c.MoveTo(0, 0);
  c.LineTo(5, 0);
  EXPECT_EQ(c.GetPixel(0, 0), kGrey);  // grey AND white: the mask mix mode survived

  EXPECT_TRUE(c.Resize(21, 10));
  EXPECT_EQ(c.GetPixel(3, 3), 0u);
  EXPECT_EQ(c.SetBackgroundMode(1), 2);
  Fill(c, 0x00404040);
  c.MoveTo(0, 0);
  c.LineTo(5, 0);
  EXPECT_EQ(c.GetPixel(0, 0), kGrey);  // copy mix mode again; the grey pen was kept
}

TEST(CanvasSurface, ACanvasAfterAnotherOfTheSameSizeStartsAfresh) {
  {
    Canvas used(20, 10);
    Fill(used, kWhite);
    used.SetBackgroundMode(1);
    used.SetMixMode(kMixMaskPen);
    used.MoveTo(15, 8);
  }
  Canvas c(20, 10);
  EXPECT_TRUE(Changed(c, 0).empty());
  EXPECT_EQ(c.SetBackgroundMode(1), 2);
  c.SetPen(0, 1, 200, 100, 50);
  ASSERT_TRUE(c.LineTo(3, 0));  // from (0, 0), in the copy mix mode
  EXPECT_EQ(c.GetPixel(0, 0), MakeColor(200, 100, 50));
  EXPECT_EQ(c.GetPixel(2, 0), MakeColor(200, 100, 50));
}

TEST(CanvasPixels, GetPixelOutsideTheSurfaceIsInvalid) {
  Canvas c(4, 3);
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 3}, {1 << 30, 1}})
    EXPECT_EQ(c.GetPixel(x, y), kInvalidColor);
  EXPECT_EQ(c.GetPixel(3, 2), 0u);
}

TEST(CanvasRectangle, OutlineLeavesOutRightColumnAndBottomRowAndBrushFillsInside) {
  for (auto [l, t, r, b] :
       {std::array{10, 10, 20, 15}, std::array{20, 15, 10, 10}, std::array{10, 15, 20, 10}}) {
    Canvas c(30, 20);
    Fill(c, kWhite);
    c.SetPenColor(MakeColor(255, 0, 0));
    c.SetBrushStyle(0);
    c.SetBrushColor(MakeColor(0, 0, 255));
    c.DrawRectangle(l, t, r, b);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) {
        bool inRect = x >= 10 && x <= 19 && y >= 10 && y <= 14;
        bool inside = x >= 11 && x <= 18 && y >= 11 && y <= 13;
        Color want = !inRect ? kWhite : inside ? MakeColor(0, 0, 255) : MakeColor(255, 0, 0);
        ASSERT_EQ(c.GetPixel(x, y), want) << x << "," << y;
      }
  }
}

TEST(CanvasRectangle, NewCanvasDrawsHollowWithThinBlackPenAndEmptyRectanglesDrawNothing) {
  Canvas c(30, 20);
  Fill(c, kWhite);
  c.DrawRectangle(2, 2, 8, 6);
  EXPECT_EQ(c.GetPixel(2, 2), 0u);
  EXPECT_EQ(c.GetPixel(7, 5), 0u);
  EXPECT_EQ(c.GetPixel(4, 4), kWhite);  // hollow brush
  EXPECT_EQ(c.GetPixel(8, 4), kWhite);
  c.DrawRectangle(12, 3, 12, 9);  // no width
  c.DrawRectangle(14, 3, 18, 3);  // no height
  EXPECT_EQ(Changed(c, kWhite).size(), 2u * 6 + 2u * 2);
}

TEST(CanvasRectangle, ThinOutlinesAreFourLinesLikeGdiDrawsThem) {
  Canvas c(12, 12);
  c.SetPen(0, 1, 255, 255, 255);
  c.DrawRectangle(5, 5, 6, 6);  // 1 x 1: no line has a pixel to draw
  EXPECT_TRUE(Changed(c, 0).empty());
  // One column wide: the right edge runs down and the left edge back up over the same
  // pixels, so under XOR the inner ones are drawn twice and come out unchanged.
  c.SetMixMode(7);
  c.DrawRectangle(2, 2, 3, 8);
  std::string column;
  for (int y = 0; y < 10; ++y) column += c.GetPixel(2, y) == kWhite ? '#' : '.';
  EXPECT_EQ(column, "..#....#..");
}

// The pixel the GDI rule picks: the exact value rounded to nearest, halves down.
int Expected(long long a0, long long a1, long long b0, long long b1, long long b) {
  double exact = a0 + static_cast<double>(a1 - a0) * (b - b0) / static_cast<double>(b1 - b0);
  return static_cast<int>(std::ceil(exact - 0.5));
}

TEST(CanvasLine, EveryOctantAndDirectionFollowsTheRoundingRuleAndLeavesOutTheEnd) {
  const int cx = 40, cy = 40;
  for (int ex = 0; ex <= 80; ex += 3)
    for (int ey = 0; ey <= 80; ey += (ex % 2 ? 5 : 7)) {
      if (ex == cx && ey == cy) continue;
      Canvas c(81, 81);
      Fill(c, kWhite);
      c.MoveTo(cx, cy);
      ASSERT_TRUE(c.LineTo(ex, ey));
      std::vector<std::pair<int, int>> want;
      int dx = ex - cx, dy = ey - cy;
      int steps = std::max(std::abs(dx), std::abs(dy));
      for (int i = 0; i < steps; ++i) {
        if (std::abs(dx) >= std::abs(dy)) {
          int x = cx + (dx > 0 ? i : -i);
          want.emplace_back(x, Expected(cy, ey, cx, ex, x));
        } else {
          int y = cy + (dy > 0 ? i : -i);
          want.emplace_back(Expected(cx, ex, cy, ey, y), y);
        }
      }
      auto got = Changed(c, kWhite);
      std::sort(want.begin(), want.end(), [](auto a, auto b) {
        return std::pair{a.second, a.first} < std::pair{b.second, b.first};
      });
      ASSERT_EQ(got, want) << "line to " << ex << "," << ey;
    }
}

TEST(CanvasLine, HalvesGoToTheSmallerCoordinateInBothDirections) {
  Canvas c(10, 4);
  Fill(c, kWhite);
  c.MoveTo(0, 0);
  c.LineTo(4, 1);  // y = 0, .25, .5, .75 at x = 0..3
  EXPECT_EQ(Changed(c, kWhite), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
  Fill(c, kWhite);
  c.MoveTo(4, 1);
  c.LineTo(0, 0);  // y = 1, .75, .5, .25 at x = 4..1
  EXPECT_EQ(Changed(c, kWhite), (std::vector<std::pair<int, int>>{{1, 0}, {2, 0}, {3, 1}, {4, 1}}));
}

TEST(CanvasLine, FarAwayEndPointsAreClippedWithoutWalkingThem) {
  Canvas c(50, 50);
  Fill(c, kWhite);
  c.MoveTo(-2000000000, 25);
  EXPECT_TRUE(c.LineTo(2000000000, 25));
  for (int x = 0; x < 50; ++x) EXPECT_EQ(c.GetPixel(x, 25), 0u);
  c.MoveTo(25, 2000000000);
  c.LineTo(25, -2000000000);
  EXPECT_EQ(c.GetPixel(25, 0), 0u);
  EXPECT_EQ(c.GetPixel(25, 49), 0u);
}

std::string Row(Canvas& c, int y, int from, int to, Color on) {
  std::string s;
  for (int x = from; x < to; ++x) {
    Color p = c.GetPixel(x, y);
    s += p == on ? '#' : p == kWhite ? '.' : '?';
  }
  return s;
}

TEST(CanvasLine, DottedPenIsThreeOnThreeOffFromTheStartOfEveryLine) {
  Canvas c(40, 8);
  Fill(c, kWhite);
  c.SetBackgroundMode(1);
  c.SetPen(2, 1, 0, 0, 0);
  c.MoveTo(0, 1);
  c.LineTo(14, 1);
  c.LineTo(26, 1);  // restarts "on" at x = 14
  EXPECT_EQ(Row(c, 1, 0, 28, 0), "###...###...#####...###.....");
  // Leftward: counted from the start point, which is drawn.
  c.MoveTo(20, 3);
  c.LineTo(5, 3);
  EXPECT_EQ(Row(c, 3, 5, 21, 0), ".###...###...###");
  // Vertical lines count along y.
  c.MoveTo(30, 0);
  c.LineTo(30, 8);
  std::string column;
  for (int y = 0; y < 8; ++y) column += c.GetPixel(30, y) == 0 ? '#' : '.';
  EXPECT_EQ(column, "###...##");
}

TEST(CanvasLine, DottedGapsAreBackgroundColourThroughTheMixModeWhenOpaque) {
  Canvas c(20, 3);
  Fill(c, MakeColor(10, 20, 30));
  c.SetPen(2, 1, 128, 128, 128);  // background mode is opaque by default
  c.MoveTo(0, 1);
  c.LineTo(12, 1);
  EXPECT_EQ(Row(c, 1, 0, 12, kGrey), "###...###...");
  EXPECT_EQ(c.GetPixel(4, 1), kWhite);

  Fill(c, MakeColor(10, 20, 30));
  c.SetMixMode(kMixMaskPen);
  c.MoveTo(0, 1);
  c.LineTo(12, 1);
  // Grey AND (10, 20, 30) on, white AND (10, 20, 30) unchanged in the gaps.
  EXPECT_EQ(c.GetPixel(0, 1), MakeColor(0, 0, 0));
  EXPECT_EQ(c.GetPixel(4, 1), MakeColor(10, 20, 30));
}

TEST(CanvasRectangle, DottedOutlinesCarryThePatternRoundTheCorners) {
  Canvas c(20, 20);
  Fill(c, kWhite);
  c.SetBackgroundMode(1);
  c.SetPen(2, 1, 0, 0, 0);
  // As GDI draws it, the outline starts at the top right corner (6, 2), runs left along the
  // top, down the left edge, right along the bottom and up the right edge, in one pattern.
  c.DrawRectangle(2, 2, 7, 12);
  EXPECT_EQ(Row(c, 2, 2, 7, 0), "..###");  // steps 4 down to 0 of the path
  std::string right;
  for (int y = 2; y < 12; ++y) right += c.GetPixel(6, y) == 0 ? '#' : '.';
  EXPECT_EQ(right, "###...###.");  // (6, 2) is step 0; the right edge runs up as steps 17-25
}

TEST(CanvasLine, DashedPenIsEighteenOnSixOff) {
  Canvas c(60, 2);
  Fill(c, kWhite);
  c.SetBackgroundMode(1);
  c.SetPen(1, 1, 0, 0, 0);
  c.MoveTo(0, 0);
  c.LineTo(50, 0);
  EXPECT_EQ(Row(c, 0, 0, 50, 0), std::string(18, '#') + std::string(6, '.') + std::string(18, '#') +
                                     std::string(6, '.') + "##");
}

TEST(CanvasMixModes, AllSixteenBinaryRasterOperations) {
  const std::uint8_t p = 0xCA, d = 0xAC;                  // every pen/destination bit pair occurs
  const std::uint8_t want[16] = {0x00,                    // black
                                 std::uint8_t(~(p | d)),  // not merge pen
                                 std::uint8_t(d & ~p),    // mask not pen
                                 std::uint8_t(~p),        // not copy pen
                                 std::uint8_t(p & ~d),    // mask pen not
                                 std::uint8_t(~d),        // not
                                 std::uint8_t(p ^ d),     // xor pen
                                 std::uint8_t(~(p & d)),  // not mask pen
                                 std::uint8_t(p & d),     // mask pen
                                 std::uint8_t(~(p ^ d)),  // not xor pen
                                 d,                       // nop
                                 std::uint8_t(d | ~p),    // merge not pen
                                 p,                       // copy pen
                                 std::uint8_t(p | ~d),    // merge pen not
                                 std::uint8_t(p | d),     // merge pen
                                 0xFF};                   // white
  for (int mode = 1; mode <= 16; ++mode) {
    Canvas c(6, 6);
    Fill(c, MakeColor(d, d, d));
    c.SetMixMode(mode);
    c.SetPen(0, 1, p, p, p);
    c.SetBrushStyle(0);
    c.SetBrushColor(MakeColor(p, p, p));
    c.MoveTo(0, 0);
    c.LineTo(6, 0);
    c.DrawRectangle(0, 2, 5, 6);
    Color w = MakeColor(want[mode - 1], want[mode - 1], want[mode - 1]);
    EXPECT_EQ(c.GetPixel(2, 0), w) << "line, mode " << mode;
    EXPECT_EQ(c.GetPixel(0, 2), w) << "outline, mode " << mode;
    EXPECT_EQ(c.GetPixel(2, 3), w) << "fill, mode " << mode;
    EXPECT_EQ(c.GetPixel(5, 3), MakeColor(d, d, d));
  }
}

TEST(CanvasMixModes, MaskPenGreyOverWhiteIsGreyOverBlackIsBlackAndBadModesAreIgnored) {
  Canvas c(10, 2);
  Fill(c, kWhite);
  c.SetMixMode(kMixMaskPen);
  c.SetMixMode(0);   // ignored
  c.SetMixMode(17);  // ignored
  c.SetPen(0, 1, 128, 128, 128);
  c.MoveTo(0, 0);
  c.LineTo(10, 0);
  EXPECT_EQ(c.GetPixel(5, 0), kGrey);
  Fill(c, 0);
  c.MoveTo(0, 0);
  c.LineTo(10, 0);
  EXPECT_EQ(c.GetPixel(5, 0), 0u);
}

TEST(CanvasCopy, CopiesPixelForPixelClippedToBothSides) {
  Canvas c(6, 5);
  Fill(c, kWhite);
  c.SetPenColor(MakeColor(1, 2, 3));
  c.MoveTo(0, 0);
  c.LineTo(6, 0);
  norvisk_test::TargetSurface target(4, 3, 0x55);
  EXPECT_TRUE(c.CopyTo(target.target(), 1, -1, 10, 10, 0, 0));
  // Target row 0 gets source row 1 (white) from column 1 on; the source's top row fell outside.
  EXPECT_EQ(target.At(0, 0), 0x555555u);
  EXPECT_EQ(target.At(1, 0), kWhite);
  EXPECT_EQ(target.At(3, 2), kWhite);
}

TEST(CanvasCopy, SoftwareTargetsMayBeBottomUp) {
  Canvas c(6, 5, SoftBackend());
  Fill(c, kWhite);
  c.SetPenColor(MakeColor(1, 2, 3));
  c.MoveTo(0, 0);
  c.LineTo(6, 0);
  // Bottom-up memory with a negative stride reads the same picture.
  std::vector<std::uint8_t> flipped(6 * 3 * 5);
  PixelRows up{flipped.data() + 4 * 18, 6, 5, -18};
  EXPECT_TRUE(c.CopyTo(&up, 0, 0, 6, 5, 0, 0));
  EXPECT_EQ(flipped[4 * 18 + 0], 3);  // top row, blue byte of (1, 2, 3)
  EXPECT_EQ(flipped[4 * 18 + 2], 1);
  EXPECT_EQ(flipped[0], 0xFF);
  EXPECT_FALSE(c.CopyTo(nullptr, 0, 0, 6, 5, 0, 0));
}

// Each back end draws only into its own kind of target: the software one into pixel rows, GDI
// into a device context. The other kind is refused and left as it was.
TEST(CanvasCopy, ABackEndRefusesTheOtherKindOfTarget) {
  Canvas soft(6, 5, SoftBackend());
  Fill(soft, kWhite);
  std::vector<std::uint8_t> memory(6 * 3 * 5, 0x55);
  // Not a device context at all: the software back end must never take it for pixel rows.
  EXPECT_FALSE(soft.CopyTo(reinterpret_cast<HDC__*>(memory.data()), 0, 0, 6, 5, 0, 0));
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0x55; }));
#if defined(_WIN32)
  Canvas gdi(6, 5, GdiBackend());
  Fill(gdi, kWhite);
  PixelRows rows{memory.data(), 6, 5, 18};
  EXPECT_FALSE(gdi.CopyTo(&rows, 0, 0, 6, 5, 0, 0));
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0x55; }));
#endif
}

TEST(CanvasResources, BackgroundCopiesTopLeftWithoutScaling) {
  ResourceImage image;
  ASSERT_TRUE(LoadResourceImage(nullptr, 202, &image));
  auto imagePixel = [&](int x, int y) {
    const std::uint8_t* p = image.bits + (image.height - 1 - y) * image.rowBytes + 3 * x;
    return MakeColor(p[2], p[1], p[0]);
  };

  Canvas big(800, 600);
  EXPECT_TRUE(big.LoadBitmapResource(nullptr, 202));
  EXPECT_EQ(big.GetPixel(0, 0), imagePixel(0, 0));
  EXPECT_EQ(big.GetPixel(639, 299), imagePixel(639, 299));
  EXPECT_EQ(big.GetPixel(640, 0), 0u);
  EXPECT_EQ(big.GetPixel(0, 300), 0u);
  EXPECT_EQ(big.GetPixel(799, 599), 0u);

  Canvas small(400, 200);
  EXPECT_TRUE(small.LoadBitmapResource(nullptr, 202));
  EXPECT_EQ(small.GetPixel(399, 199), imagePixel(399, 199));

  Canvas sizeless(0, 300);
  EXPECT_TRUE(sizeless.LoadBitmapResource(nullptr, 202));
  ASSERT_TRUE(sizeless.ready());
  EXPECT_EQ(sizeless.surfaceDesc().width, 640);
  EXPECT_EQ(sizeless.surfaceDesc().height, 300);
  EXPECT_EQ(sizeless.GetPixel(320, 150), imagePixel(320, 150));

  // A canvas of the picture's own size takes it whole, every row where it belongs (the logo's
  // rows differ from one another), also over what was drawn before.
  ResourceImage logo;
  ASSERT_TRUE(LoadResourceImage(nullptr, 203, &logo));
  Canvas exact(logo.width, logo.height);
  exact.DrawRectangle(2, 2, 40, 30);
  ASSERT_TRUE(exact.LoadBitmapResource(nullptr, 203));
  for (int y = 0; y < logo.height; ++y)
    for (int x = 0; x < logo.width; ++x) {
      const std::uint8_t* p = logo.bits + (logo.height - 1 - y) * logo.rowBytes + 3 * x;
      ASSERT_EQ(exact.GetPixel(x, y), MakeColor(p[2], p[1], p[0])) << x << ", " << y;
    }

  Canvas unchanged(10, 10);
  EXPECT_FALSE(unchanged.LoadBitmapResource(nullptr, 9999));
  EXPECT_TRUE(Changed(unchanged, 0).empty());
}

TEST(CanvasObjects, SettersWorkWithoutASurfaceAndReachTheNextOne) {
  Canvas c(0, 0);
  c.SetPen(0, 1, 0, 0, 255);
  c.SetBrushStyle(0);
  c.SetBrushColor(MakeColor(0, 255, 0));
  c.SetFontSize(11);
  ASSERT_TRUE(c.Resize(20, 20));
  c.DrawRectangle(2, 2, 10, 10);
  EXPECT_EQ(c.GetPixel(2, 2), MakeColor(0, 0, 255));
  EXPECT_EQ(c.GetPixel(5, 5), MakeColor(0, 255, 0));
  EXPECT_EQ(c.TextHeight("fg"), 17);  // the font was made for the new surface
  EXPECT_EQ(c.pen().style, 0);
  EXPECT_EQ(c.brush().hatch, 4);
}

// The platform's back end, counting the pens and brushes it makes; it can be told to refuse.
class CountingBackend final : public Backend {
 public:
  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    return DefaultBackend().CreateDevice(desc);
  }
  std::unique_ptr<DrawObject> CreatePen(const PenSpec& settings) const override {
    ++pensMade;
    return refuse ? nullptr : DefaultBackend().CreatePen(settings);
  }
  std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& settings) const override {
    ++brushesMade;
    return refuse ? nullptr : DefaultBackend().CreateBrush(settings);
  }
  std::unique_ptr<DrawObject> CreateFont(const FontSpec& settings) const override {
    ++fontsMade;
    return DefaultBackend().CreateFont(settings);
  }
  mutable int fontsMade = 0;
  mutable int pensMade = 0;
  mutable int brushesMade = 0;
  bool refuse = false;
};

Color Shade(int k) { return MakeColor(10 * k + 5, 255 - 7 * k, 3 * k); }

TEST(CanvasObjects, ColoursUsedAgainAreSelectedAgainWithoutBeingMadeAgain) {
  CountingBackend backend;
  Canvas c(40, 10, backend);
  c.SetBrushStyle(0);
  const int before = backend.pensMade + backend.brushesMade;
  // Stacked segments going round three colours, as bars are drawn.
  for (int k = 0; k < 12; ++k) {
    c.SetBrushColor(Shade(k % 3));
    c.SetPenColor(Shade(k % 3));
    c.DrawRectangle(3 * k, 0, 3 * k + 3, 10);
  }
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(c.GetPixel(3 * k, 0), Shade(k % 3)) << k;      // outline: the pen
    EXPECT_EQ(c.GetPixel(3 * k + 1, 5), Shade(k % 3)) << k;  // inside: the brush
  }
  EXPECT_EQ(backend.pensMade + backend.brushesMade - before, 6);
}

TEST(CanvasObjects, MoreColoursThanAreKeptStillDrawEachInItsOwn) {
  CountingBackend backend;
  Canvas c(64, 3, backend);
  // Far more pens than are kept, then the first ones again after they were let go: each line
  // must have its own colour (a released or wrongly chosen object would show here, or crash).
  for (int round = 0; round < 2; ++round) {
    for (int k = 0; k < 20; ++k) {
      c.SetPenColor(Shade(k));
      c.MoveTo(3 * k, round);
      c.LineTo(3 * k + 2, round);
    }
  }
  for (int round = 0; round < 2; ++round)
    for (int k = 0; k < 20; ++k) EXPECT_EQ(c.GetPixel(3 * k + 1, round), Shade(k)) << k;
  // The first pen, then all twenty in both rounds: going round more colours than are kept keeps
  // none of them long enough to be used again.
  EXPECT_EQ(backend.pensMade, 1 + 40);
}

TEST(CanvasObjects, APenThatCannotBeMadeLeavesTheDefaultUntilOneCanBe) {
  CountingBackend backend;
  Canvas c(10, 3, backend);
  Fill(c, kWhite);
  c.SetPenColor(kGrey);
  backend.refuse = true;
  c.SetPenColor(MakeColor(0, 0, 255));  // refused: the default black pen draws
  c.MoveTo(0, 0);
  c.LineTo(10, 0);
  c.SetPenColor(kGrey);  // kept from before, so it is there without being made
  c.MoveTo(0, 1);
  c.LineTo(10, 1);
  EXPECT_EQ(c.GetPixel(4, 0), 0u);
  EXPECT_EQ(c.GetPixel(4, 1), kGrey);
  backend.refuse = false;
  c.SetPenColor(MakeColor(0, 0, 255));
  c.MoveTo(0, 2);
  c.LineTo(10, 2);
  EXPECT_EQ(c.GetPixel(4, 2), MakeColor(0, 0, 255));
}

TEST(CanvasObjects, TheFontIsMadeWhenTextNeedsItAndUprightTextMakesNoneOfItsOwn) {
  CountingBackend backend;
  Canvas c(120, 120, backend);
  c.SetFontSize(8);
  c.SetFontSize(11);
  EXPECT_EQ(backend.fontsMade, 0);
  EXPECT_EQ(c.TextHeight("fg"), 17);
  for (int k = 0; k < 4; ++k) c.DrawVerticalText(10 + 20 * k, 5, "North");
  c.DrawText(0, 100, "East");
  EXPECT_EQ(backend.fontsMade, 1);
}

TEST(CanvasText, UprightTextAfterAFontChangeUsesTheNewFont) {
  // The scratch surface keeps the canvas's font selected between texts; a new size must reach
  // it, and the old font must not be used after it is gone.
  Canvas changed(60, 120);
  Fill(changed, kWhite);
  changed.SetFontSize(8);
  changed.DrawVerticalText(0, 0, "Wide");
  changed.SetFontSize(14);
  Canvas cleared(60, 120);  // a canvas that only ever had the new size
  Fill(cleared, kWhite);
  cleared.SetFontSize(14);
  changed.DrawVerticalText(30, 0, "Wide");
  cleared.DrawVerticalText(30, 0, "Wide");
  int differing = 0, inked = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 30; x < 60; ++x) {
      differing += changed.GetPixel(x, y) != cleared.GetPixel(x, y);
      inked += cleared.GetPixel(x, y) != kWhite;
    }
  EXPECT_GT(inked, 0);
  EXPECT_EQ(differing, 0);
  EXPECT_GT(changed.TextHeight("fg"), 17);  // 14 points are taller than the 11 of the other test
}

TEST(CanvasMetrics, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(10, 96, 72), 13);
  EXPECT_EQ(MulDiv(11, 96, 72), 15);
  EXPECT_EQ(MulDiv(3, 1, 2), 2);
  EXPECT_EQ(MulDiv(-3, 1, 2), -2);
  EXPECT_EQ(MulDiv(3, -1, -2), 2);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
}

TEST(CanvasText, CellHeightFollowsTheFaceMetricsWhateverTheLetters) {
  Canvas c(100, 40);
  c.SetFontSize(11);
  EXPECT_EQ(c.TextHeight("fg"), 17);  // 14 above the baseline, 3 below, at 15 pixels
  EXPECT_EQ(c.TextHeight("x"), 17);
  EXPECT_EQ(c.TextWidth(""), 0);
  EXPECT_EQ(c.TextHeight(""), 0);  // GDI measures an empty text as nothing at all
  int ab = c.TextWidth("ab");
  EXPECT_GT(ab, 0);
  EXPECT_EQ(ab, c.TextWidth("a") + c.TextWidth("b"));
  c.SetFontSize(10);
  EXPECT_LT(c.TextHeight("fg"), 17);
}

TEST(CanvasText, OpaqueTextFillsExactlyItsCellTransparentOnlyInks) {
  Canvas c(120, 40);
  c.SetFontSize(11);
  const Color base = MakeColor(40, 50, 60);
  Fill(c, base);
  c.SetMixMode(kMixMaskPen);  // text is not subject to the mix mode
  int w = c.TextWidth("Hg");
  c.DrawText(10, 5, "Hg");
  int ink = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) {
      bool cell = x >= 10 && x < 10 + w && y >= 5 && y < 5 + 17;
      Color p = c.GetPixel(x, y);
      if (!cell)
        ASSERT_EQ(p, base) << x << "," << y;
      else
        ASSERT_TRUE(p == kWhite || p == 0) << x << "," << y;
      ink += p == 0;
    }
  EXPECT_GT(ink, 10);

  Fill(c, base);
  c.SetBackgroundMode(1);
  c.DrawText(10, 5, "Hg");
  int inkTransparent = 0;
  for (auto [x, y] : Changed(c, base)) {
    EXPECT_EQ(c.GetPixel(x, y), 0u);
    ++inkTransparent;
  }
  EXPECT_EQ(inkTransparent, ink);
}

TEST(CanvasText, VerticalTextIsTheHorizontalTextTurnedCounterClockwise) {
  const char* text = "Feb 2";
  Canvas flat(100, 30);
  flat.SetFontSize(11);
  Fill(flat, kWhite);
  flat.DrawText(0, 0, text);
  int w = flat.TextWidth(text), h = flat.TextHeight(text);
  ASSERT_GT(w, 0);

  Canvas c(300, 300);
  c.SetFontSize(11);
  const Color base = MakeColor(200, 210, 220);
  Fill(c, base);
  c.SetMixMode(kMixMaskPen);
  c.DrawVerticalText(100, 200, text);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      bool inBox = x >= 100 && x < 100 + h && y >= 201 && y <= 200 + w;
      Color want = base;
      // Scratch pixel (j, i) lands on (100 + i, 200 + w - j).
      if (inBox && flat.GetPixel(200 + w - y, x - 100) == 0) want = 0;
      ASSERT_EQ(c.GetPixel(x, y), want) << x << "," << y;
    }
  // The first character is at the bottom: the lowest rows hold ink of "F".
  bool inkLow = false;
  for (int y = 200 + w - 8; y <= 200 + w; ++y)
    for (int x = 100; x < 100 + h; ++x) inkLow |= c.GetPixel(x, y) == 0;
  EXPECT_TRUE(inkLow);

  Canvas empty(50, 50);
  Fill(empty, base);
  empty.DrawVerticalText(10, 10, "");
  EXPECT_TRUE(Changed(empty, base).empty());
}

TEST(CanvasText, TextPastTheEdgesIsClipped) {
  Canvas c(20, 10);
  c.SetFontSize(11);
  c.DrawText(-30, -5, "Wide text here");
  c.DrawText(15, 5, "Wide text here");
  c.DrawVerticalText(15, -100, "Wide text here");
  c.DrawVerticalText(-5, 5, "\xff\xfe\xc3(bad utf-8)");
  EXPECT_FALSE(Changed(c, 0).empty());
}

}  // namespace
}  // namespace norvisk
