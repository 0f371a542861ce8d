// Graph base: value-axis label texts, the grid and its left-behind drawing state.
#include "graph/graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "graph/bar_graph.h"

namespace norvisk {
namespace {

std::vector<std::string> Labels(double minValue, double maxValue) {
  std::vector<std::string> out;
  for (int i = 0; i <= 10; ++i) out.push_back(ValueLabelText(minValue, maxValue, i));
  return out;
}

TEST(ValueLabels, ElevenLabelsFromTheTopValueDownWithTwoDecimals) {
  EXPECT_EQ(Labels(0, 0), std::vector<std::string>(11, "0.00"));
  EXPECT_EQ(Labels(0, 10),
            (std::vector<std::string>{"10.00", "9.00", "8.00", "7.00", "6.00", "5.00", "4.00",
                                      "3.00", "2.00", "1.00", "0.00"}));
  EXPECT_EQ(Labels(-10, -2.5),
            (std::vector<std::string>{"-2.50", "-3.25", "-4.00", "-4.75", "-5.50", "-6.25", "-7.00",
                                      "-7.75", "-8.50", "-9.25", "-10.00"}));
  EXPECT_EQ(Labels(0, 7.2),
            (std::vector<std::string>{"7.20", "6.48", "5.76", "5.04", "4.32", "3.60", "2.88",
                                      "2.16", "1.44", "0.72", "0.00"}));
}

TEST(ValueLabels, EachLabelComesFromTheFormulaSoTheBottomCanBeMinusZero) {
  EXPECT_EQ(ValueLabelText(0, 7.3, 10), "-0.00");
  EXPECT_EQ(ValueLabelText(0, 1234567.891, 0), "1234567.89");  // no digit grouping
}

TEST(ToPixel, TruncatesTowardZeroAndHoldsInfinitiesFarAway) {
  int p = 0;
  EXPECT_TRUE(ToPixel(79.5, &p));
  EXPECT_EQ(p, 79);
  EXPECT_TRUE(ToPixel(-0.9, &p));
  EXPECT_EQ(p, 0);
  EXPECT_TRUE(ToPixel(-1e300, &p));
  EXPECT_EQ(p, -(1 << 30));
  EXPECT_TRUE(ToPixel(std::numeric_limits<double>::infinity(), &p));
  EXPECT_EQ(p, 1 << 30);
  EXPECT_FALSE(ToPixel(std::nan(""), &p));
}

// A graph whose canvas is plain white, to see exactly what the grid draws.
struct White : BarGraph {
  White() : BarGraph(200, 120) {
    SurfaceBits b = canvas->Bits();
    for (int i = 0; i < b.rowBytes * b.height; ++i) b.bits[i] = 0xFF;
  }
};

TEST(Grid, FrameNineDottedRowsAndColumnsOnlyFromThreeOn) {
  for (int columns : {0, 1, 2, 3, 5}) {
    White g;
    g.DrawGrid(10, 10, 100, 50, columns);
    Canvas& c = *g.canvas;
    EXPECT_EQ(c.GetPixel(10, 10), 0u);
    EXPECT_EQ(c.GetPixel(109, 59), 0u);
    EXPECT_EQ(c.GetPixel(110, 30), 0xFFFFFFu);  // right column left out
    const Color grey = MakeColor(128, 128, 128);
    for (int k = 1; k <= 9; ++k) {
      int y = 10 + k * 50 / 10;
      EXPECT_EQ(c.GetPixel(11, y), grey);       // second dot of the row
      EXPECT_EQ(c.GetPixel(13, y), 0xFFFFFFu);  // a gap
    }
    std::vector<int> lines;
    for (int x = 11; x < 109; ++x)
      if (c.GetPixel(x, 11) == grey) lines.push_back(x);
    std::vector<int> want;
    if (columns == 3) want = {60};
    if (columns == 5) want = {35, 60, 85};
    EXPECT_EQ(lines, want) << columns << " columns";
  }
}

TEST(Grid, LeavesASolidBlackPenSolidBrushAndTheMaskMixMode) {
  White g;
  g.DrawGrid(10, 10, 100, 50, 0);
  Canvas& c = *g.canvas;
  EXPECT_EQ(c.pen().style, 0);
  EXPECT_EQ(c.pen().width, 1);
  EXPECT_EQ(c.pen().color, 0u);
  EXPECT_EQ(c.brush().style, 0u);
  c.SetPenColor(MakeColor(255, 0, 0));
  c.MoveTo(0, 100);
  c.LineTo(50, 100);
  c.MoveTo(0, 15);
  c.LineTo(50, 15);                                     // over the dotted row at y = 15
  EXPECT_EQ(c.GetPixel(5, 100), MakeColor(255, 0, 0));  // red AND white
  EXPECT_EQ(c.GetPixel(11, 15), MakeColor(128, 0, 0));  // red AND grey: the grid shows through
}

}  // namespace
}  // namespace norvisk
