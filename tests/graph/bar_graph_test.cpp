// BarGraph: the data string, adding, geometry, and the rendered picture checked by pixel.
#include "graph/bar_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "raster/resource_image.h"
#include "support/random_text.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

struct Parsed {
  std::vector<std::string> legends;
  std::vector<std::pair<std::string, std::vector<double>>> bars;
  double maxTotal;
};

Parsed Parse(std::string_view data) {
  BarGraph g(0, 0);
  g.LoadData(data);
  Parsed p{g.data().legends, {}, g.data().maxTotal};
  for (const Bar& b : g.data().bars) {
    auto values = g.data().ValuesOf(b);
    p.bars.emplace_back(b.name, std::vector<double>(values.begin(), values.end()));
  }
  EXPECT_EQ(g.data().legendCount, static_cast<int>(p.legends.size()));
  EXPECT_EQ(g.data().barCount, static_cast<int>(p.bars.size()));
  return p;
}

using Bars = std::vector<std::pair<std::string, std::vector<double>>>;
using Texts = std::vector<std::string>;

TEST(BarDataString, TheWorkedExample) {
  Parsed p = Parse("(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)");
  EXPECT_EQ(p.legends, (Texts{"Q1", "Q2", "Q3"}));
  EXPECT_EQ(p.bars, (Bars{{"North", {10, 20, 30}}, {"South", {15, 25, 35}}}));
  EXPECT_EQ(p.maxTotal, 75);
}

TEST(BarDataString, LegendSectionAlwaysAddsAtLeastOneLegend) {
  EXPECT_EQ(Parse("").legends, Texts{""});
  EXPECT_EQ(Parse("()").legends, Texts{""});
  EXPECT_EQ(Parse("(A;)").legends, (Texts{"A", ""}));
  Parsed open = Parse("(A;B(x;1");  // no ")": everything after the first character
  EXPECT_EQ(open.legends, (Texts{"A", "B(x", "1"}));
  EXPECT_TRUE(open.bars.empty());
  EXPECT_EQ(Parse("xA;B)").legends, (Texts{"A", "B"}));  // the first character is skipped unchecked
}

TEST(BarDataString, TheSkippedCharactersAreWholeCharacters) {
  // Before the legends and before each bar. Linux texts are UTF-8: a character of two, three or
  // four bytes goes whole. Windows texts are in the ANSI code page: one byte goes.
  const std::string e = "\xc3\xa9", euro = "\xe2\x82\xac", smile = "\xf0\x9f\x98\x80";
  const Parsed p = Parse(e + "Q1;Q2)" + euro + "North;10)" + smile + "South;5)");
#if defined(_WIN32)
  EXPECT_EQ(p.legends, (Texts{"\xa9Q1", "Q2"}));
  EXPECT_EQ(p.bars, (Bars{{"\x82\xacNorth", {10}}, {"\x9f\x98\x80South", {5}}}));
#else
  EXPECT_EQ(p.legends, (Texts{"Q1", "Q2"}));
  EXPECT_EQ(p.bars, (Bars{{"North", {10}}, {"South", {5}}}));
  // A byte that begins no whole sequence is a character of its own.
  EXPECT_EQ(Parse("\xe2\x82Q1)\xffx;1)").legends, Texts{"\x82Q1"});
  EXPECT_EQ(Parse("(Q1)\xe2\x82x;1)").bars, (Bars{{"\x82x", {1}}}));
#endif
  // A bar group of nothing but the one character still gives an empty bar.
  EXPECT_EQ(Parse("(A)" + e + ")").bars.size(), 1u);
}

TEST(BarDataString, GroupsAddOneBarWithAtLeastOneValue) {
  EXPECT_EQ(Parse("(A;B)(Jan)").bars, (Bars{{"Jan", {0}}}));
  EXPECT_EQ(Parse("(A;B)(5)").bars, (Bars{{"5", {5}}}));
  EXPECT_EQ(Parse("(A;B)(Jan;1;2;)").bars, (Bars{{"Jan", {1, 2, 0}}}));
  EXPECT_EQ(Parse("(A;B)(Jan;1;2) (Feb;3;4)").bars, (Bars{{"Jan", {1, 2}}, {"(Feb", {3, 4}}}));
  EXPECT_EQ(Parse("(A)(x; 12.5 ;abc;7e1x) trailing text").bars, (Bars{{"x", {12.5, 0, 70}}}));
  EXPECT_EQ(Parse("(A)( spaced name ;1)").bars, (Bars{{" spaced name ", {1}}}));
  EXPECT_EQ(Parse("(A)()").bars, (Bars{{"", {0}}}));
}

TEST(BarDataString, AClosingBracketRightAtTheFrontGivesAnEmptyGroup) {
  // "(x;1))(y;2)": after the first group the rest starts with ")".
  EXPECT_EQ(Parse("(A)(x;1))(y;2)").bars, (Bars{{"x", {1}}, {"", {0}}, {"y", {2}}}));
  // Many of them stay linear in size: one empty bar each, not the whole rest each time.
  Parsed p = Parse("(A)" + std::string(1000, ')') + std::string(1000, ';'));
  EXPECT_EQ(p.bars.size(), 1000u);
  for (const auto& bar : p.bars) EXPECT_EQ(bar.second.size(), 1u);
}

TEST(BarDataString, AnyTextIsReadWithinItsOwnSize) {
  norvisk_test::RandomText texts(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string text = texts.Next();
    BarGraph g(0, 0);
    g.LoadData(text);
    const BarData& d = g.data();
    std::size_t closes = static_cast<std::size_t>(std::count(text.begin(), text.end(), ')'));
    std::size_t semis = static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'));
    ASSERT_EQ(d.legendCount, static_cast<int>(d.legends.size())) << text;
    ASSERT_EQ(d.barCount, static_cast<int>(d.bars.size())) << text;
    ASSERT_GE(d.legends.size(), 1u) << text;
    ASSERT_LE(d.bars.size(), closes) << text;
    // Every bar has at least one value; all of them come from ";" and ")" of the text.
    ASSERT_LE(d.values.size(), d.bars.size() + semis) << text;
    std::size_t counted = 0;
    for (const Bar& bar : d.bars) {
      ASSERT_GE(bar.valueCount, 1u) << text;
      ASSERT_EQ(bar.firstValue, counted) << text;
      counted += bar.valueCount;
    }
    ASSERT_EQ(counted, d.values.size()) << text;
    ASSERT_GE(d.maxTotal, 0.0) << text;
  }
}

TEST(BarDataString, SuccessiveLoadsAccumulate) {
  BarGraph g(0, 0);
  g.LoadData("(A)(x;1)");
  g.LoadData("(B)(y;2;3)");
  EXPECT_EQ(g.data().legends, (Texts{"A", "B"}));
  ASSERT_EQ(g.data().bars.size(), 2u);
  auto second = g.data().ValuesOf(g.data().bars[1]);
  EXPECT_EQ(std::vector<double>(second.begin(), second.end()), (std::vector<double>{2, 3}));
  EXPECT_EQ(g.data().maxTotal, 5);
}

TEST(BarAdding, RunningTotalMaxTotalAndValuesWithoutABar) {
  BarGraph g(0, 0);
  g.AddValue(9);  // no bar yet: ignored
  EXPECT_TRUE(g.data().bars.empty());
  EXPECT_EQ(g.data().maxTotal, 0);
  g.AddBar("a");
  g.AddValue(5);
  g.AddValue(-3);
  EXPECT_EQ(g.data().maxTotal, 5);  // the highest point reached, not the final sum
  g.AddBar("b");
  g.AddValue(-4);
  g.AddValue(6);
  EXPECT_EQ(g.data().runningTotal, 2);
  EXPECT_EQ(g.data().maxTotal, 5);
  g.Clear();
  EXPECT_EQ(g.data().maxTotal, 0);
  EXPECT_EQ(g.data().currentBar, -1);
  g.AddValue(1);  // after Clear there is no bar either
  EXPECT_TRUE(g.data().bars.empty());
  g.AddBar("c");
  EXPECT_EQ(g.data().bars.size(), 1u);
}

TEST(BarGeometry, FollowsTheImageSize) {
  BarGraph g(640, 300);
  EXPECT_EQ(g.plotTop, 20);
  EXPECT_EQ(g.plotLeft, 60);
  EXPECT_EQ(g.plotWidth, 450);
  EXPECT_EQ(g.plotHeight, 200);
  EXPECT_EQ(g.legendLeft, 515);
  EXPECT_EQ(g.legendTop, 20);
  EXPECT_EQ(g.legendWidth, 120);
  EXPECT_EQ(g.canvas->fontPoints(), 11);
  g.SetWidth(800);
  EXPECT_EQ(g.plotLeft, 75);
  EXPECT_EQ(g.plotWidth, 562);
  EXPECT_EQ(g.legendLeft, 643);
  EXPECT_EQ(g.canvas->surfaceDesc().width, 800);
  EXPECT_EQ(g.canvas->fontPoints(), 11);  // width leaves the font alone
  g.SetHeight(400);
  EXPECT_EQ(g.plotTop, 26);
  EXPECT_EQ(g.plotHeight, 266);
  EXPECT_EQ(g.canvas->fontPoints(), 15);
  EXPECT_EQ(g.canvas->surfaceDesc().height, 400);
}

TEST(BarDirty, SetByEveryChangeClearedByRender) {
  BarGraph g(64, 30);
  EXPECT_TRUE(g.dirty);
  g.Render();
  EXPECT_FALSE(g.dirty);
  g.AddLegend("x");
  EXPECT_TRUE(g.dirty);
  g.Render();
  g.LoadBackground(nullptr, kBackgroundBitmap);
  EXPECT_TRUE(g.dirty);
  g.Render();
  g.SetWidth(64);
  EXPECT_TRUE(g.dirty);
  g.Render();
  g.Clear();
  EXPECT_TRUE(g.dirty);
  g.Render();
  g.LoadData("");
  EXPECT_TRUE(g.dirty);
}

// The four-bar example on the background, with helpers to read expected colours.
class FourBars : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadResourceImage(nullptr, kBackgroundBitmap, &bg));
    graph.LoadBackground(nullptr, kBackgroundBitmap);
    graph.LoadData("(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)");
    graph.Render();
  }
  Color Bg(int x, int y) const {
    const std::uint8_t* p = bg.bits + (bg.height - 1 - y) * bg.rowBytes + 3 * x;
    return MakeColor(p[2], p[1], p[0]);
  }
  Color At(int x, int y) { return graph.canvas->GetPixel(x, y); }
  ResourceImage bg;
  BarGraph graph{640, 300};
};

TEST_F(FourBars, ColumnsFillTheirSlotsWithGapsBetween) {
  const int slots[4][2] = {{62, 172}, {174, 284}, {286, 396}, {398, 508}};
  const int y = 210;  // inside every first segment, away from grid rows
  for (auto [l, r] : slots) {
    // A segment outlined in its own colour covers l..r-1.
    EXPECT_EQ(At(l, y), SeriesColor(0) & Bg(l, y)) << l;
    EXPECT_EQ(At(r - 1, y), SeriesColor(0) & Bg(r - 1, y)) << r;
    EXPECT_EQ(At(r, y), Bg(r, y)) << r;
    EXPECT_EQ(At(l - 1, y), l == 62 ? Bg(61, y) : Bg(l - 1, y)) << l;
  }
}

TEST_F(FourBars, SegmentsStackInSeriesColoursAndTheTallestReachesThePlotTop) {
  // North: 10, 20, 30 of 75 on 200 rows: boundaries at 220, 193, 140, 60.
  EXPECT_EQ(At(100, 200), SeriesColor(0) & Bg(100, 200));
  EXPECT_EQ(At(100, 170), SeriesColor(1) & Bg(100, 170));
  EXPECT_EQ(At(100, 100), SeriesColor(2) & Bg(100, 100));
  EXPECT_EQ(At(100, 59), Bg(100, 59));
  // South and West total 75: their last segments run up to row 20, the frame's top edge.
  EXPECT_EQ(At(230, 21), SeriesColor(2) & Bg(230, 21));
  EXPECT_EQ(At(450, 21), SeriesColor(2) & Bg(450, 21));
  EXPECT_EQ(At(230, 20), 0u);
  EXPECT_EQ(At(340, 21), Bg(340, 21));  // East is short
}

TEST_F(FourBars, GridShowsThroughTheBarsAndFrameIsBlack) {
  const Color grey = MakeColor(128, 128, 128);
  for (int k = 1; k <= 9; ++k) {
    int y = 20 + k * 20;
    EXPECT_EQ(At(61, y), grey & Bg(61, y)) << y;  // second dot, left of the first column
  }
  // A dot inside North's top segment: grey AND green AND background.
  EXPECT_EQ(At(103, 80), grey & SeriesColor(2) & Bg(103, 80));
  EXPECT_EQ(At(106, 80), SeriesColor(2) & Bg(106, 80));  // a gap between dots
  for (int y = 20; y <= 219; ++y) EXPECT_EQ(At(60, y), 0u);
  for (int x = 60; x <= 509; ++x) EXPECT_EQ(At(x, 20), 0u);
  for (int x = 60; x <= 509; x += 7) EXPECT_EQ(At(x, 219), 0u);
  EXPECT_EQ(At(510, 100), Bg(510, 100));
}

TEST_F(FourBars, LegendSquaresAndFrame) {
  for (int k = 0; k < 3; ++k) {
    int top = 20 + 4 + 16 * k;
    EXPECT_EQ(At(520, top), 0u);  // outline in the black pen
    EXPECT_EQ(At(531, top + 11), 0u);
    EXPECT_EQ(At(525, top + 5), SeriesColor(k) & Bg(525, top + 5)) << k;
    EXPECT_EQ(At(532, top + 5), Bg(532, top + 5));
  }
  // Frame from (515, 20) to (635, 73), three rows of 16 plus 5.
  EXPECT_EQ(At(515, 50), 0u);
  EXPECT_EQ(At(634, 50), 0u);
  EXPECT_EQ(At(600, 20), 0u);
  EXPECT_EQ(At(600, 72), 0u);
  EXPECT_EQ(At(600, 73), Bg(600, 73));
  EXPECT_EQ(At(635, 50), Bg(635, 50));
  EXPECT_EQ(At(629, 60), Bg(629, 60));  // hollow inside
}

TEST_F(FourBars, NamesStandUprightUnderTheirColumnsAndLabelsEndLeftOfThePlot) {
  int w = graph.canvas->TextWidth("North"), h = graph.canvas->TextHeight("North");
  // Bar 0: x = trunc(60 + 0 + 56 - 8) = 108, from row 223 down.
  int inside = 0, outside = 0;
  for (int y = 221; y < 300; ++y)
    for (int x = 90; x < 140; ++x) {
      if (At(x, y) != 0) continue;
      bool box = x >= 108 && x < 108 + h && y >= 223 && y <= 222 + w;
      (box ? inside : outside)++;
    }
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
  // Value labels end two pixels left of the plot: columns 58 and 59 hold no ink.
  for (int y = 0; y < 240; ++y) {
    EXPECT_NE(At(58, y), 0u) << y;
    EXPECT_NE(At(59, y), 0u) << y;
  }
  int ink = 0;
  for (int y = 10; y < 30; ++y)
    for (int x = 20; x < 58; ++x) ink += At(x, y) == 0;
  EXPECT_GT(ink, 10);  // "75.00" around the top edge
}

TEST_F(FourBars, RenderingAgainWithoutAChangeDrawsNothingNew) {
  // A mark over the frame, a bar, a value label and a name: whatever a rendering draws there
  // would show on it.
  const Color mark = MakeColor(1, 2, 3);
  auto paint = [&] {
    SurfaceBits b = graph.canvas->Bits();
    for (int y = 15; y < 260; ++y)
      for (int x = 20; x < 130; ++x) {
        std::uint8_t* p = b.bits + (b.height - 1 - y) * b.rowBytes + 3 * x;
        p[0] = 3, p[1] = 2, p[2] = 1;
      }
  };
  auto marked = [&] {
    int n = 0;
    for (int y = 15; y < 260; ++y)
      for (int x = 20; x < 130; ++x) n += At(x, y) == mark;
    return n;
  };
  paint();
  graph.Render();
  EXPECT_EQ(marked(), 110 * 245);
  graph.AddBar("Extra");  // dirty, but not rendered: the canvas stays as it was
  EXPECT_EQ(marked(), 110 * 245);
  // A change is rendered: the same mark is drawn over.
  graph.Render();
  EXPECT_LT(marked(), 110 * 245 - 1000);
}

TEST(BarRender, ZeroBarsDrawFrameGridAndLegendOnly) {
  BarGraph g(640, 300);
  g.LoadBackground(nullptr, kBackgroundBitmap);
  g.LoadData("(Only)");
  g.Render();
  ResourceImage bg;
  ASSERT_TRUE(LoadResourceImage(nullptr, kBackgroundBitmap, &bg));
  // The inside of the plot off the grid rows is untouched background.
  for (int x = 70; x < 500; x += 9) {
    Color c = g.canvas->GetPixel(x, 30);
    const std::uint8_t* p = bg.bits + (bg.height - 1 - 30) * bg.rowBytes + 3 * x;
    EXPECT_EQ(c, MakeColor(p[2], p[1], p[0]));
  }
  // The one legend square, in the first series colour through the mask pen.
  const std::uint8_t* p = bg.bits + (bg.height - 1 - 29) * bg.rowBytes + 3 * 525;
  EXPECT_EQ(g.canvas->GetPixel(525, 29), SeriesColor(0) & MakeColor(p[2], p[1], p[0]));
  EXPECT_NE(g.canvas->GetPixel(525, 29), g.canvas->GetPixel(532, 29));
}

TEST(BarRender, ZeroAndNegativeStacksAndInvisibleWhite) {
  BarGraph g(640, 300);
  SurfaceBits b = g.canvas->Bits();
  for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
  g.LoadData("(A)(a;5;-3)(b;0;0;0;0;0;0;0;0;0;0;0;0;4)");
  g.Render();
  // Bar a: 5 up to row 20, then down by 3 to row 140: the red segment is overdrawn in yellow.
  EXPECT_EQ(g.canvas->GetPixel(100, 100), SeriesColor(1) & SeriesColor(0));
  EXPECT_EQ(g.canvas->GetPixel(100, 150), SeriesColor(0));
  // Bar b: twelve zeros draw no height; value 12 is white, which leaves pixels alone.
  EXPECT_EQ(g.canvas->GetPixel(400, 150), 0xFFFFFFu);
  EXPECT_EQ(SeriesColor(9), 0u);
  EXPECT_EQ(SeriesColor(13), 0u);
  EXPECT_EQ(SeriesColor(1000), 0u);
  EXPECT_EQ(SeriesColor(-1), 0u);

  BarGraph below(640, 300);
  b = below.canvas->Bits();
  for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
  below.LoadData("(A)(a;2;-4)");  // reaches 2, ends at -2: drawn into the names' area
  below.Render();
  EXPECT_NE(below.canvas->GetPixel(100, 235), 0u);
}

// Pixels inside the plot (frame left out) of a colour other than white, the grid's grey and
// the frame's black: what segments drew there.
int SegmentPixels(BarGraph& g) {
  const Color grey = MakeColor(128, 128, 128);
  int n = 0;
  for (int y = g.plotTop + 1; y < g.plotTop + g.plotHeight - 1; ++y)
    for (int x = g.plotLeft + 1; x < g.plotLeft + g.plotWidth - 1; ++x) {
      Color c = g.canvas->GetPixel(x, y);
      n += c != 0xFFFFFFu && c != grey && c != 0u;
    }
  return n;
}

void PaintWhite(BarGraph& g) {
  SurfaceBits b = g.canvas->Bits();
  for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
}

TEST(BarRender, NothingAboveZeroDrawsNoSegmentAndHugeValuesStayFinite) {
  BarGraph flat(200, 100);
  PaintWhite(flat);
  flat.LoadData("(A)(a;0)(b;-5)");
  flat.Render();  // maxTotal 0: labels only, no division by zero
  EXPECT_EQ(flat.data().maxTotal, 0);
  EXPECT_EQ(SegmentPixels(flat), 0);

  // The same bars with a positive stack do draw: the count sees segments.
  BarGraph some(200, 100);
  PaintWhite(some);
  some.LoadData("(A)(a;1)(b;-5)");
  some.Render();
  EXPECT_GT(SegmentPixels(some), 100);

  // An infinite largest stack: every segment has no height (infinite sums give no pixel rows,
  // not a coordinate from a converted infinity or not-a-number).
  BarGraph huge(200, 100);
  PaintWhite(huge);
  huge.LoadData("(A;B)(a;1e308;1e308)(b;-1e999;1e999)(c;1e-320)");
  huge.Render();
  EXPECT_TRUE(std::isinf(huge.data().maxTotal));
  EXPECT_EQ(SegmentPixels(huge), 0);
}

TEST(BarRender, ImpossibleSizesRenderAndSaveNothing) {
  for (auto [w, h] : {std::pair{-1, 300}, {-640, -300}, {100000, 100000}, {0x7FFFFFFF, 1}}) {
    BarGraph g(w, h);
    g.LoadData("(A;B)(x;1;2)(y;3;4)");
    EXPECT_FALSE(g.LoadBackground(nullptr, 12345));
    g.LoadBackground(nullptr, kBackgroundBitmap);
    PixelRows target;
    EXPECT_FALSE(g.DrawToDC(&target));
    EXPECT_FALSE(g.dirty);
    EXPECT_FALSE(g.SaveToFile("/tmp/norvisk-never.bmp"));
  }
}

TEST(BarRender, ASizelessCanvasTakesTheBackgroundsSize) {
  BarGraph g(0, 0);
  EXPECT_TRUE(g.LoadBackground(nullptr, kBackgroundBitmap));
  EXPECT_EQ(g.canvas->surfaceDesc().width, 640);
  EXPECT_EQ(g.canvas->surfaceDesc().height, 300);
  EXPECT_TRUE(g.canvas->ready());
}

TEST(BarRender, DrawToDCCopiesTheWholeCanvas) {
  BarGraph g(64, 30);
  g.LoadBackground(nullptr, kBackgroundBitmap);
  g.LoadData("(A)(x;1)");
  norvisk_test::TargetSurface target(64, 30);
  EXPECT_TRUE(g.DrawToDC(target.target()));
  for (int y = 0; y < 30; y += 7)
    for (int x = 0; x < 64; x += 5) EXPECT_EQ(target.At(x, y), g.canvas->GetPixel(x, y));
}

}  // namespace
}  // namespace norvisk
