// NVGraph: statuses, kind checks, graph replacement, fixed size and the saved pictures.
#include "objects/nv_graph.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "graph/bar_graph.h"
#include "graph/xy_graph.h"
#include "raster/memory_sink.h"
#include "raster/resource_image.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

namespace fs = std::filesystem;

class NVGraphTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return folder.File(name); }
  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  BarGraph* Bar(NVGraph& o) { return static_cast<BarGraph*>(o.graph()); }
  XYGraph* XY(NVGraph& o) { return static_cast<XYGraph*>(o.graph()); }
  norvisk_test::TestDir folder;
  const fs::path& dir = folder.path();
};

TEST_F(NVGraphTest, AFreshObjectHasNoGraphAndRefusesToAdd) {
  NVGraph o;
  EXPECT_EQ(o.graphKind(), GraphKind::None);
  EXPECT_EQ(o.width(), 640);
  EXPECT_EQ(o.height(), 300);
  EXPECT_EQ(o.AddBarBar("a"), S_FALSE);
  EXPECT_EQ(o.AddBarLegend("a"), S_FALSE);
  EXPECT_EQ(o.AddBarValue(1), S_FALSE);
  EXPECT_EQ(o.AddXYValue("a", 1), S_FALSE);
  EXPECT_EQ(o.Clear(), S_OK);
  EXPECT_EQ(o.SaveToFile(Path("none.bmp").c_str()), S_OK);
  EXPECT_FALSE(fs::exists(Path("none.bmp")));
  EXPECT_EQ(o.SetWidth(800), S_FALSE);
  EXPECT_EQ(o.SetHeight(400), S_FALSE);
  EXPECT_EQ(o.graphKind(), GraphKind::None);
  EXPECT_EQ(o.graph(), nullptr);
}

TEST_F(NVGraphTest, AddingMethodsOnlyFitTheirKind) {
  NVGraph o;
  EXPECT_EQ(o.CreateXYGraph(), S_OK);
  EXPECT_EQ(o.graphKind(), GraphKind::XY);
  EXPECT_EQ(o.AddBarBar("x"), S_FALSE);
  EXPECT_EQ(o.AddBarLegend("x"), S_FALSE);
  EXPECT_EQ(o.AddBarValue(3), S_FALSE);
  EXPECT_EQ(XY(o)->data().Count(), 0);
  EXPECT_EQ(o.AddXYValue("Jan", 4), S_OK);
  EXPECT_EQ(XY(o)->data().Count(), 1);

  EXPECT_EQ(o.CreateBarGraph(), S_OK);
  EXPECT_EQ(o.AddXYValue("Jan", 4), S_FALSE);
  EXPECT_EQ(o.AddBarLegend("Q1"), S_OK);
  EXPECT_EQ(o.AddBarBar("North"), S_OK);
  EXPECT_EQ(o.AddBarValue(5), S_OK);
  EXPECT_EQ(Bar(o)->data().legends.size(), 1u);
  EXPECT_EQ(Bar(o)->data().maxTotal, 5);
}

TEST_F(NVGraphTest, DrawingMethodsReplaceTheGraphAndItsKind) {
  NVGraph o;
  o.CreateXYGraph();
  o.AddXYValue("a", 1);
  EXPECT_EQ(o.DrawBarGraph(Path("b.bmp").c_str(), "(A)(x;1)"), S_OK);
  EXPECT_EQ(o.graphKind(), GraphKind::Bar);
  EXPECT_EQ(o.AddXYValue("a", 1), S_FALSE);
  EXPECT_EQ(o.AddBarValue(2), S_OK);
  EXPECT_EQ(Bar(o)->data().maxTotal, 3);
  EXPECT_EQ(o.DrawXYGraph(Path("x.bmp").c_str(), "(a;1)(b;2)"), S_OK);
  EXPECT_EQ(o.graphKind(), GraphKind::XY);
  EXPECT_EQ(XY(o)->data().Count(), 2);
  EXPECT_EQ(fs::file_size(Path("b.bmp")), 576054u);
  EXPECT_EQ(fs::file_size(Path("x.bmp")), 576054u);
}

TEST_F(NVGraphTest, ClearKeepsTheKindAndTheGraph) {
  NVGraph o;
  o.CreateBarGraph();
  o.AddBarBar("first");
  Graph* before = o.graph();
  EXPECT_EQ(o.Clear(), S_OK);
  EXPECT_EQ(o.graph(), before);
  EXPECT_EQ(o.graphKind(), GraphKind::Bar);
  EXPECT_EQ(o.AddBarBar("second"), S_OK);
  ASSERT_EQ(Bar(o)->data().bars.size(), 1u);
  EXPECT_EQ(Bar(o)->data().bars[0].name, "second");
}

TEST_F(NVGraphTest, ResizingAffectsOnlyTheCurrentGraph) {
  NVGraph o;
  o.CreateBarGraph();
  EXPECT_EQ(o.SetWidth(800), S_OK);
  EXPECT_EQ(o.SetHeight(400), S_OK);
  o.AddBarLegend("Q1");
  o.AddBarBar("North");
  o.AddBarValue(10);
  o.SaveToFile(Path("big.bmp").c_str());
  EXPECT_EQ(fs::file_size(Path("big.bmp")), 54u + 2400u * 400u);
  Canvas& c = *o.graph()->canvas;
  ResourceImage bg;
  ASSERT_TRUE(LoadResourceImage(nullptr, kBackgroundBitmap, &bg));
  const std::uint8_t* p = bg.bits + (bg.height - 1 - 10) * bg.rowBytes + 3 * 630;
  EXPECT_EQ(c.GetPixel(630, 10), MakeColor(p[2], p[1], p[0]));  // the background's top-left
  EXPECT_EQ(c.GetPixel(700, 350), 0u);                          // the rest stays black
  EXPECT_EQ(c.GetPixel(790, 390), 0u);
  EXPECT_EQ(c.GetPixel(639, 299) == 0u, false);

  o.SetWidth(800);
  EXPECT_EQ(o.DrawBarGraph(Path("again.bmp").c_str(), "(A)(x;1)"), S_OK);
  EXPECT_EQ(fs::file_size(Path("again.bmp")), 576054u);  // a new graph at the fixed size
  EXPECT_EQ(o.width(), 640);
}

TEST_F(NVGraphTest, EverySaveIsACompletePictureOverAFreshBackground) {
  NVGraph o;
  o.DrawBarGraph(Path("first.bmp").c_str(), "(Q1;Q2)(North;10;20)(South;15;25)");
  o.SaveToFile(Path("second.bmp").c_str());
  o.SaveToFile(Path("third.bmp").c_str());
  std::string first = Read(Path("first.bmp"));
  EXPECT_EQ(first.size(), 576054u);
  EXPECT_EQ(Read(Path("second.bmp")), first);
  EXPECT_EQ(Read(Path("third.bmp")), first);
  o.DrawXYGraph(Path("xy1.jpg").c_str(), "(Jan;10)(Feb;20)(Mar;15)");
  o.SaveToFile(Path("xy2.jpg").c_str());
  EXPECT_EQ(Read(Path("xy1.jpg")), Read(Path("xy2.jpg")));
}

// A writer of the caller's: the picture's size and its top-left pixel (blue, green, red) as
// text, or nothing at all when `refuse` is set.
bool refuse = false;
ExportResult SizeWriter(const SurfaceBits& bits, const ImageSink& sink) {
  if (refuse) return ExportResult::NoMemory;
  const std::uint8_t* p = bits.Rows().Row(0);
  const std::string text = std::to_string(bits.width) + "x" + std::to_string(bits.height) + " " +
                           std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
                           std::to_string(p[2]);
  return sink.Write(text.data(), text.size()) ? ExportResult::Written : ExportResult::NotWritten;
}

TEST_F(NVGraphTest, ACallersWriterWritesWhateverTheName) {
  NVGraph o;
  ExportResult outcome = ExportResult::Written;
  MemorySink memory;
  EXPECT_EQ(o.Encode(SizeWriter, memory.sink(), &outcome), S_FALSE);
  EXPECT_EQ(o.SaveAs(Path("none.png").c_str(), SizeWriter, &outcome), S_FALSE);
  EXPECT_EQ(outcome, ExportResult::NotWritten);
  ASSERT_EQ(o.DrawBarGraph(Path("chart.bmp").c_str(), "(A)(x;1)"), S_OK);
  // The picture as SaveToFile writes it, through the writer: the same size, the same corner
  // pixel (the background's) as the bitmap, bottom-up there.
  const std::string bmp = Read(Path("chart.bmp"));
  ASSERT_EQ(bmp.size(), 576054u);
  const std::size_t corner = 54 + 1920 * 299;
  const std::string want = "640x300 " + std::to_string(static_cast<unsigned char>(bmp[corner])) +
                           "," + std::to_string(static_cast<unsigned char>(bmp[corner + 1])) + "," +
                           std::to_string(static_cast<unsigned char>(bmp[corner + 2]));
  EXPECT_EQ(o.Encode(SizeWriter, memory.sink(), &outcome), S_OK);
  EXPECT_EQ(outcome, ExportResult::Written);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.data()), memory.size()), want);
  // Names of any format, or of none, are written by the writer, replacing a file whole.
  for (const std::string name : {"chart.png", "chart.jpg", "CHART"}) {
    std::ofstream(Path(name)) << "old";
    EXPECT_EQ(o.SaveAs(Path(name).c_str(), SizeWriter, &outcome), S_OK) << name;
    EXPECT_EQ(outcome, ExportResult::Written) << name;
    EXPECT_EQ(Read(Path(name)), want) << name;
  }
  // A writer that fails leaves the old file; no writer writes nothing.
  refuse = true;
  EXPECT_EQ(o.SaveAs(Path("chart.png").c_str(), SizeWriter, &outcome), S_OK);
  refuse = false;
  EXPECT_EQ(outcome, ExportResult::NoMemory);
  EXPECT_EQ(o.SaveAs(Path("chart.png").c_str(), nullptr, &outcome), S_OK);
  EXPECT_EQ(outcome, ExportResult::NotWritten);
  EXPECT_EQ(Read(Path("chart.png")), want);
  // A size of no picture writes nothing, unlike SaveToFile, which puts the background back.
  o.SetWidth(0);
  EXPECT_EQ(o.SaveAs(Path("zero.png").c_str(), SizeWriter, &outcome), S_OK);
  EXPECT_EQ(outcome, ExportResult::NotWritten);
  EXPECT_FALSE(fs::exists(Path("zero.png")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
}

TEST_F(NVGraphTest, UnwritableNamesAndEmptyGraphsStillReportSuccess) {
  NVGraph o;
  EXPECT_EQ(o.DrawXYGraph(Path("empty.bmp").c_str(), "no points"), S_OK);
  EXPECT_FALSE(fs::exists(Path("empty.bmp")));
  EXPECT_EQ(o.DrawBarGraph(Path("no/such/dir/x.jpg").c_str(), "(A)(x;1)"), S_OK);
  EXPECT_EQ(o.SaveToFile(Path("chart.PNG").c_str()), S_OK);
  EXPECT_EQ(o.SaveToFile(static_cast<const char*>(nullptr)), S_OK);
  EXPECT_EQ(o.SaveToFile(static_cast<const char16_t*>(nullptr)), S_OK);
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(NVGraphTest, AutomationStringsAreConvertedAndNullIsEmpty) {
  NVGraph o;
  o.CreateBarGraph();
  EXPECT_EQ(o.AddBarBar(u"Z\u00fcrich \u20ac"), S_OK);
  EXPECT_EQ(o.AddBarBar(static_cast<const char16_t*>(nullptr)), S_OK);
  EXPECT_EQ(o.AddBarLegend(u"\U0001F600\xD800x"), S_OK);  // a lone half pair
  const char16_t cut[] = {u'a', 0, u'b', 0};
  EXPECT_EQ(o.AddBarLegend(cut), S_OK);  // read up to the first zero
  const BarData& d = Bar(o)->data();
#if defined(_WIN32)
  // The ANSI code page (1252): characters it lacks become "?".
  EXPECT_EQ(d.bars[0].name, "Z\xfcrich \x80");
  EXPECT_EQ(d.legends[0].back(), 'x');
  EXPECT_NE(d.legends[0].find('?'), std::string::npos);
#else
  EXPECT_EQ(d.bars[0].name, "Z\xc3\xbcrich \xe2\x82\xac");
  EXPECT_EQ(d.legends[0], "\xf0\x9f\x98\x80\xef\xbf\xbdx");
#endif
  EXPECT_EQ(d.bars[1].name, "");
  EXPECT_EQ(d.legends[1], "a");
  // A file name given as an automation string reaches the file system.
  std::string name = dir.string();
  std::u16string wide(name.begin(), name.end());
  wide += u"/w\u00e4rme.bmp";
  EXPECT_EQ(o.DrawBarGraph(wide.c_str(), u"(A)(x;1)"), S_OK);
  EXPECT_TRUE(fs::exists(dir / fs::path(u"w\u00e4rme.bmp")));
}

TEST_F(NVGraphTest, WhatCallersReadFollowsTheCurrentGraph) {
  NVGraph o;
  EXPECT_FALSE(o.HasGraph());
  EXPECT_FALSE(o.HasPicture());
  EXPECT_EQ(o.barData(), nullptr);
  EXPECT_EQ(o.xyData(), nullptr);

  ASSERT_EQ(o.CreateBarGraph(), S_OK);
  EXPECT_TRUE(o.HasGraph());
  EXPECT_TRUE(o.HasPicture());
  EXPECT_EQ(o.xyData(), nullptr);
  ASSERT_NE(o.barData(), nullptr);
  o.AddBarLegend("Q1");
  o.AddBarBar("North");
  o.AddBarValue(7);
  EXPECT_EQ(o.barData()->legends, std::vector<std::string>{"Q1"});
  EXPECT_EQ(o.barData()->maxTotal, 7);

  // A size beyond the limit leaves the graph without a picture until a size that fits.
  EXPECT_EQ(o.SetWidth(0x7FFFFFFF), S_OK);
  EXPECT_TRUE(o.HasGraph());
  EXPECT_FALSE(o.HasPicture());
  EXPECT_EQ(o.SetWidth(200), S_OK);
  EXPECT_TRUE(o.HasPicture());

  ASSERT_EQ(o.CreateXYGraph(), S_OK);
  EXPECT_EQ(o.barData(), nullptr);
  ASSERT_NE(o.xyData(), nullptr);
  EXPECT_EQ(o.xyData()->Count(), 0);
  o.AddXYValue("Jan", 4);
  EXPECT_EQ(o.xyData()->Point(0).label, "Jan");
}

TEST_F(NVGraphTest, ReplacingGraphsLeavesExactlyOneAlive) {
  int graphs = Graph::LiveCount(), canvases = Canvas::LiveCount();
  {
    NVGraph o;
    for (int i = 0; i < 50; ++i) {
      o.CreateBarGraph();
      o.CreateXYGraph();
      o.DrawBarGraph(Path("loop.bmp").c_str(), "(A)(x;1)");
      EXPECT_EQ(Graph::LiveCount(), graphs + 1);
      // The graph's canvas, and the small one its upright labels are first drawn on.
      EXPECT_LE(Canvas::LiveCount(), canvases + 2);
    }
  }
  EXPECT_EQ(Graph::LiveCount(), graphs);
  EXPECT_EQ(Canvas::LiveCount(), canvases);
}

TEST_F(NVGraphTest, ImpossibleSizesDoNotCrash) {
  NVGraph o;
  o.CreateBarGraph();
  for (int size : {0, -1, 0x7FFFFFFF, -0x7FFFFFFF - 1}) {
    EXPECT_EQ(o.SetWidth(size), S_OK);
    EXPECT_EQ(o.SetHeight(size), S_OK);
    EXPECT_EQ(o.AddBarBar("x"), S_OK);
    EXPECT_EQ(o.AddBarValue(1), S_OK);
    EXPECT_EQ(o.SaveToFile(Path("odd.bmp").c_str()), S_OK);
  }
  o.CreateXYGraph();
  o.SetWidth(-5);
  o.AddXYValue("a", 1);
  EXPECT_EQ(o.SaveToFile(Path("odd.jpg").c_str()), S_OK);
}

}  // namespace
}  // namespace norvisk
