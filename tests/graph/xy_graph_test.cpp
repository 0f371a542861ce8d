// XYGraph: the data string, point positions and the rendered line, grid and labels by pixel.
#include "graph/xy_graph.h"

#include <gtest/gtest.h>

#include "support/random_text.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace norvisk {
namespace {

using Points = std::vector<std::pair<std::string, double>>;

Points Parse(std::string_view data) {
  XYGraph g(0, 0);
  g.LoadData(data);
  Points out;
  for (int k = 0; k < g.data().Count(); ++k) {
    XYPoint p = g.data().Point(static_cast<std::size_t>(k));
    out.emplace_back(std::string(p.label), p.value);
  }
  EXPECT_EQ(g.data().Count(), static_cast<int>(out.size()));
  return out;
}

TEST(XYDataString, CanonicalPairs) {
  EXPECT_EQ(Parse("(Jan;10)(Feb;20)(Mar;15)"), (Points{{"Jan", 10}, {"Feb", 20}, {"Mar", 15}}));
}

TEST(XYDataString, WhatIsSkippedAndWhatIsKept) {
  EXPECT_EQ(Parse(""), Points{});
  EXPECT_EQ(Parse("(Jan 10)(Feb 20)"), Points{});
  EXPECT_EQ(Parse("Jan;10)"), (Points{{"an", 10}}));  // the first character always goes
  EXPECT_EQ(Parse("(a;1) (b;2)"), (Points{{"a", 1}, {"(b", 2}}));
  EXPECT_EQ(Parse("(a;1),(b;2)"), (Points{{"a", 1}, {"(b", 2}}));
  EXPECT_EQ(Parse("(a;1)(b;2)"), (Points{{"a", 1}, {"b", 2}}));
  EXPECT_EQ(Parse("(x)y;5)"), (Points{{"x)y", 5}}));
  EXPECT_EQ(Parse("(;5)"), (Points{{"", 5}}));
  EXPECT_EQ(Parse("(a;1)(b"), (Points{{"a", 1}}));
}

TEST(XYDataString, TheSkippedCharactersAreWholeCharacters) {
  // The first one and the one after each ")": whole UTF-8 sequences on Linux, single bytes of
  // the ANSI code page on Windows.
  const std::string e = "\xc3\xa9", euro = "\xe2\x82\xac", smile = "\xf0\x9f\x98\x80";
  const Points p = Parse(e + "a;1)" + euro + "b;2)" + smile + "c;3)");
#if defined(_WIN32)
  EXPECT_EQ(p, (Points{{"\xa9"
                        "a",
                        1},
                       {"\x82\xac"
                        "b",
                        2},
                       {"\x9f\x98\x80"
                        "c",
                        3}}));
#else
  EXPECT_EQ(p, (Points{{"a", 1}, {"b", 2}, {"c", 3}}));
  EXPECT_EQ(Parse("\xff"
                  "a;1)\xe2\x82"
                  "b;2)"),
            (Points{{"a", 1},
                    {"\x82"
                     "b",
                     2}}));
#endif
  // At the very end nothing is left to skip.
  EXPECT_EQ(Parse("(a;1)" + e), (Points{{"a", 1}}));
}

TEST(XYDataString, NumberTexts) {
  EXPECT_EQ(Parse("(a;12abc)"), (Points{{"a", 12}}));
  EXPECT_EQ(Parse("(a;abc)"), (Points{{"a", 0}}));
  EXPECT_EQ(Parse("(a; -1.5e2)"), (Points{{"a", -150}}));
  EXPECT_EQ(Parse("(a;2d1)"), (Points{{"a", 20}}));
  // Without a ")" the number text is the whole rest, and the rest is used up.
  EXPECT_EQ(Parse("(a;7;b;8"), (Points{{"a", 7}}));
}

TEST(XYDataString, AnyTextIsReadWithinItsOwnSize) {
  norvisk_test::RandomText texts(777);
  for (int round = 0; round < 3000; ++round) {
    std::string text = texts.Next();
    XYGraph g(0, 0);
    g.LoadData(text);
    const XYData& d = g.data();
    ASSERT_LE(static_cast<std::size_t>(d.Count()),
              static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')))
        << text;
    std::size_t labelBytes = 0;
    for (int k = 0; k < d.Count(); ++k) {
      XYPoint p = d.Point(static_cast<std::size_t>(k));
      labelBytes += p.label.size();
      ASSERT_FALSE(std::isnan(p.value)) << text;
      ASSERT_GE(p.value, d.MinValue()) << text;
      ASSERT_LE(p.value, d.MaxValue()) << text;
    }
    ASSERT_LE(labelBytes, text.size()) << text;
  }
}

TEST(XYAdding, MinMaxFollowTheValuesAndStartAfreshAfterClear) {
  XYGraph g(0, 0);
  g.LoadData("(a;3)(b;-2)");
  g.LoadData("(c;9)");
  EXPECT_EQ(g.data().Count(), 3);
  EXPECT_EQ(g.data().Point(2).label, "c");
  EXPECT_EQ(g.data().MinValue(), -2);
  EXPECT_EQ(g.data().MaxValue(), 9);
  g.Clear();
  EXPECT_EQ(g.data().Count(), 0);
  EXPECT_TRUE(g.dirty);
  g.AddXYValue("z", 7);
  EXPECT_EQ(g.data().MinValue(), 7);
  EXPECT_EQ(g.data().MaxValue(), 7);
}

TEST(XYWalk, FirstAndNextVisitEveryPointOnce) {
  XYGraph g(0, 0);
  XYData& d = const_cast<XYData&>(g.data());
  EXPECT_FALSE(d.First());
  g.LoadData("(a;1)(b;2)(c;3)");
  std::string seen;
  for (bool more = d.First(); more; more = d.Next()) seen += d.CurrentLabel();
  EXPECT_EQ(seen, "abc");
  EXPECT_FALSE(d.Next());  // stays past the end
}

TEST(XYGeometry, FollowsTheImageSize) {
  XYGraph g(640, 300);
  EXPECT_EQ(g.plotLeft, 60);
  EXPECT_EQ(g.plotWidth, 560);
  EXPECT_EQ(g.plotTop, 20);
  EXPECT_EQ(g.plotHeight, 200);
  EXPECT_EQ(g.canvas->fontPoints(), 11);
  EXPECT_TRUE(g.SetWidth(400));
  EXPECT_EQ(g.plotLeft, 37);
  EXPECT_EQ(g.plotWidth, 350);
  EXPECT_TRUE(g.SetHeight(200));
  EXPECT_EQ(g.plotTop, 13);
  EXPECT_EQ(g.plotHeight, 133);
  EXPECT_EQ(g.canvas->fontPoints(), 7);
  EXPECT_FALSE(g.SetWidth(-1));
}

std::vector<std::pair<int, int>> Positions(XYGraph& g) {
  std::vector<std::pair<int, int>> out;
  for (int k = 0; k < g.data().Count(); ++k)
    out.emplace_back(g.PointX(k), g.PointY(g.data().Point(static_cast<std::size_t>(k)).value));
  return out;
}

TEST(XYPositions, TheWorkedExamples) {
  XYGraph a(640, 300);
  a.LoadData("(Jan;10)(Feb;20)(Mar;15)");
  EXPECT_EQ(Positions(a), (std::vector<std::pair<int, int>>{{60, 220}, {340, 20}, {620, 120}}));

  XYGraph b(640, 300);
  b.LoadData("(a;-5)(b;0)(c;5)(d;2.5)(e;-2.5)");
  EXPECT_EQ(Positions(b), (std::vector<std::pair<int, int>>{
                              {60, 220}, {200, 120}, {340, 20}, {480, 70}, {620, 170}}));

  XYGraph c(400, 200);
  c.LoadData("(a;0)(b;1)(c;2)");
  EXPECT_EQ(Positions(c), (std::vector<std::pair<int, int>>{{37, 146}, {212, 79}, {387, 13}}));
}

TEST(XYPositions, FlatSeriesAndNonFiniteValuesStayOnTheMiddleRow) {
  XYGraph g(640, 300);
  g.LoadData("(a;4)(b;4)");
  EXPECT_EQ(Positions(g), (std::vector<std::pair<int, int>>{{60, 120}, {620, 120}}));
  XYGraph one(640, 300);
  one.AddXYValue("only", 3);
  EXPECT_EQ(Positions(one), (std::vector<std::pair<int, int>>{{60, 120}}));
  XYGraph inf(640, 300);
  SurfaceBits b = inf.canvas->Bits();
  for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
  inf.LoadData("(a;1e999)(b;1)(c;-1e999)");
  for (auto [x, y] : Positions(inf)) EXPECT_EQ(y, 120);
  inf.AddXYValue("nan", std::nan(""));
  inf.Render();  // no non-finite conversion on the way
  // The line in black runs along the middle row and nowhere else inside the frame.
  int onMiddle = 0, elsewhere = 0;
  for (int y = 21; y < 220; ++y)  // inside the frame (60, 20) - (619, 220)
    for (int x = 61; x < 619; ++x)
      if (inf.canvas->GetPixel(x, y) == 0u) (y == 120 ? onMiddle : elsewhere)++;
  EXPECT_GT(onMiddle, 300);
  EXPECT_EQ(elsewhere, 0);
}

// A white 640 x 300 XY graph, rendered.
struct Rendered {
  explicit Rendered(std::string_view data, int w = 640, int h = 300) : g(w, h) {
    SurfaceBits b = g.canvas->Bits();
    for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
    g.LoadData(data);
    g.Render();
  }
  Color At(int x, int y) { return g.canvas->GetPixel(x, y); }
  XYGraph g;
};

TEST(XYRender, FrameOnePixelTallerOneVerticalLineAndTheLineThroughThePoints) {
  Rendered r("(Jan;10)(Feb;20)(Mar;15)");
  const Color grey = MakeColor(128, 128, 128), white = 0xFFFFFF;
  // Frame from (60, 20) to (620, 221): outline through (619, 220).
  EXPECT_EQ(r.At(60, 100), 0u);
  EXPECT_EQ(r.At(619, 100), 0u);
  EXPECT_EQ(r.At(300, 220), 0u);
  EXPECT_EQ(r.At(300, 221), white);
  EXPECT_EQ(r.At(620, 100), white);
  // One dotted vertical grid line, at x = 340, and none elsewhere.
  std::vector<int> columns;
  for (int x = 61; x < 619; ++x)
    if (r.At(x, 22) == grey) columns.push_back(x);
  EXPECT_EQ(columns, std::vector<int>{340});
  // The line: black at each point but the last (end points are left out).
  EXPECT_EQ(r.At(60, 220), 0u);
  EXPECT_EQ(r.At(340, 20), 0u);
  EXPECT_EQ(r.At(200, 120), 0u);  // half-way up the first segment
  EXPECT_EQ(r.At(480, 70), 0u);
}

TEST(XYRender, LabelsStandUprightFromSevenPixelsLeftOfEachPoint) {
  Rendered r("(Jan;10)(Feb;20)(Mar;15)");
  int w = r.g.canvas->TextWidth("Feb"), h = r.g.canvas->TextHeight("Feb");
  // Label of point 1 at (333, 225): columns 333.., rows 226..225 + w.
  int inside = 0, outside = 0;
  for (int y = 222; y < 300; ++y)
    for (int x = 300; x < 380; ++x) {
      if (r.At(x, y) != 0) continue;
      bool box = x >= 333 && x < 333 + h && y >= 226 && y <= 225 + w;
      (box ? inside : outside)++;
    }
  EXPECT_GT(inside, 10);
  EXPECT_EQ(outside, 0);
  // Five rows between the plot and the labels stay clear (value labels lie left of x = 60).
  for (int x = 60; x < 640; ++x)
    for (int y = 222; y <= 225; ++y) ASSERT_NE(r.At(x, y), 0u) << x << "," << y;
}

TEST(XYRender, TwoPointsHaveNoVerticalGridLineAndTwoHundredPointsHaveThemAll) {
  Rendered two("(a;1)(b;2)");
  for (int x = 61; x < 619; ++x) ASSERT_NE(two.At(x, 22), MakeColor(128, 128, 128)) << x;

  std::string data;
  // A flat line (row 120) keeps clear of the grid's top rows.
  for (int i = 0; i < 200; ++i) data += "(P" + std::to_string(i) + ";5)";
  Rendered many(data);
  int lines = 0;
  for (int x = 61; x < 619; ++x) lines += many.At(x, 22) == MakeColor(128, 128, 128);
  // 198 inner points on 558 columns: no two fall on the same column.
  EXPECT_EQ(lines, 198);
}

TEST(XYRender, WithoutPointsNothingIsDrawnOrSaved) {
  XYGraph g(640, 300);
  g.LoadData("no pairs here");
  EXPECT_TRUE(g.dirty);
  PixelRows target;
  EXPECT_FALSE(g.DrawToDC(&target));
  norvisk_test::TestDir folder;
  auto path = folder.path() / "empty.bmp";
  EXPECT_FALSE(g.SaveToFile(path.string().c_str()));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(g.dirty);  // left set
  g.AddXYValue("a", 1);
  EXPECT_TRUE(g.SaveToFile(path.string().c_str()));
  EXPECT_FALSE(g.dirty);
}

TEST(XYRender, WithoutPointsNothingIsCopiedIntoATargetThatCouldTakeIt) {
  XYGraph g(640, 300);  // its canvas is black: a copy would show
  norvisk_test::TargetSurface target(640, 300);
  EXPECT_FALSE(g.DrawToDC(target.target()));
  EXPECT_EQ(target.At(60, 20), 0x111111u);
  EXPECT_TRUE(g.dirty);  // nor is anything rendered
}

TEST(XYRender, ImpossibleSizesDrawNothingAndSurvive) {
  for (auto [w, h] : {std::pair{-5, 300}, {100000, 100000}, {640, -1}}) {
    XYGraph g(w, h);
    g.LoadData("(a;1)(b;2)(c;3)");
    g.Render();
    EXPECT_FALSE(g.SaveToFile("/tmp/norvisk-never.jpg"));
  }
}

}  // namespace
}  // namespace norvisk
