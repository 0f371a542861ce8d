// DataReader: a data string read into a new graph that is shown, never drawn.
#include "objects/data_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norvisk {
namespace {

TEST(DataReader, EachReadIsANewGraphOfTheKindWithoutAPicture) {
  const int graphs = Graph::LiveCount();
  const int canvases = Canvas::LiveCount();
  {
    DataReader reader;
    ASSERT_EQ(reader.Read(GraphKind::Bar, "(Q1;Q2)(North;10;20)(South;15;25)"), S_OK);
    EXPECT_EQ(reader.graphKind(), GraphKind::Bar);
    EXPECT_TRUE(reader.HasGraph());
    EXPECT_FALSE(reader.HasPicture());
    EXPECT_EQ(reader.xyData(), nullptr);
    const BarData* bars = reader.barData();
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(bars->legends, (std::vector<std::string>{"Q1", "Q2"}));
    ASSERT_EQ(bars->bars.size(), 2u);
    EXPECT_EQ(bars->bars[1].name, "South");
    EXPECT_EQ(bars->maxTotal, 40);

    // The bars go with their graph; the points are all the new one holds.
    ASSERT_EQ(reader.Read(GraphKind::XY, "(Jan;10)(Feb;-20)"), S_OK);
    EXPECT_EQ(reader.graphKind(), GraphKind::XY);
    EXPECT_FALSE(reader.HasPicture());
    EXPECT_EQ(reader.barData(), nullptr);
    const XYData* points = reader.xyData();
    ASSERT_NE(points, nullptr);
    ASSERT_EQ(points->Count(), 2);
    EXPECT_EQ(points->Point(1).label, "Feb");
    EXPECT_EQ(points->MinValue(), -20);
    EXPECT_EQ(Graph::LiveCount(), graphs + 1);
  }
  EXPECT_EQ(Graph::LiveCount(), graphs);
  EXPECT_EQ(Canvas::LiveCount(), canvases);
}

TEST(DataReader, ReadsAutomationStringsAndTheEmptyText) {
  DataReader reader;
  ASSERT_EQ(reader.Read(GraphKind::XY, u"(a;1)(b;2)(c;3)"), S_OK);
  EXPECT_EQ(reader.xyData()->Count(), 3);
  ASSERT_EQ(reader.Read(GraphKind::XY, static_cast<const char16_t*>(nullptr)), S_OK);
  EXPECT_EQ(reader.xyData()->Count(), 0);
  ASSERT_EQ(reader.Read(GraphKind::Bar, ""), S_OK);
  EXPECT_EQ(reader.barData()->legends, (std::vector<std::string>{""}));
  EXPECT_TRUE(reader.barData()->bars.empty());
}

}  // namespace
}  // namespace norvisk
