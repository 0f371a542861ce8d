// VGraph: graphs sized by the window, drawn into it, and saved as the window shows them.
#include "objects/v_graph.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "graph/bar_graph.h"
#include "raster/resource_image.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

namespace fs = std::filesystem;

// A window double: a pixel buffer of the client size. Asking for a target while no window
// exists is a failure of the code under test.
class FakeWindow : public ControlWindow {
 public:
  bool Exists() override { return exists; }
  void ClientSize(int* w, int* h) override {
    if (!exists) ADD_FAILURE() << "client size asked before the window exists";
    *w = width;
    *h = height;
  }
  void Extent(long* cx, long* cy) override {
    *cx = extentX;
    *cy = extentY;
  }
  DeviceContext AcquireTarget() override {
    if (!exists) ADD_FAILURE() << "drawing before the window exists";
    if (acquired) ADD_FAILURE() << "target acquired twice";
    acquired = true;
    ++draws;
    surface = std::make_unique<norvisk_test::TargetSurface>(width, height);
    return surface->target();
  }
  void ReleaseTarget(DeviceContext t) override {
    if (!surface || t != surface->target() || !acquired)
      ADD_FAILURE() << "released a target it did not get";
    acquired = false;
    pixels = surface->Pixels();
  }
  // What the window showed after the last drawing.
  Color At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }

  bool exists = true;
  int width = 400;
  int height = 200;
  long extentX = 5080;  // 2 inches
  long extentY = 2540;
  bool acquired = false;
  int draws = 0;
  std::vector<Color> pixels;
  std::unique_ptr<norvisk_test::TargetSurface> surface;
};

Color BackgroundAt(int x, int y) {
  ResourceImage bg;
  LoadResourceImage(nullptr, kBackgroundBitmap, &bg);
  const std::uint8_t* p = bg.bits + (bg.height - 1 - y) * bg.rowBytes + 3 * x;
  return MakeColor(p[2], p[1], p[0]);
}

TEST(VGraph, FreshObjectStatuses) {
  FakeWindow w;
  VGraph o(w);
  EXPECT_EQ(o.DrawGraph(), S_FALSE);
  EXPECT_EQ(o.AddBarValue(1), S_FALSE);
  EXPECT_EQ(o.AddXYValue("a", 1), S_FALSE);
  EXPECT_EQ(o.Clear(), S_OK);
  EXPECT_EQ(o.SaveToFile("/tmp/norvisk-vgraph-never.bmp"), S_OK);
  EXPECT_FALSE(fs::exists("/tmp/norvisk-vgraph-never.bmp"));
  EXPECT_EQ(w.draws, 0);
}

TEST(VGraph, DrawingMethodsMakeAGraphOfTheClientSizeAndShowIt) {
  FakeWindow w;
  VGraph o(w);
  EXPECT_EQ(o.DrawBarGraph("(Q1;Q2)(North;10;20)(South;15;25)"), S_OK);
  ASSERT_EQ(o.graphKind(), GraphKind::Bar);
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().width, 400);
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().height, 200);
  EXPECT_EQ(w.draws, 1);
  EXPECT_EQ(w.At(2, 2), BackgroundAt(2, 2));
  EXPECT_EQ(w.At(200, 100), o.graph()->canvas->GetPixel(200, 100));
  EXPECT_EQ(o.DrawXYGraph("(a;1)(b;2)"), S_OK);
  EXPECT_EQ(o.graphKind(), GraphKind::XY);
  EXPECT_EQ(w.draws, 2);
}

TEST(VGraph, SaveBeforeAnyDrawHoldsNoBackgroundAfterDrawGraphThePictureShown) {
  FakeWindow w;
  VGraph o(w);
  o.CreateBarGraph();
  o.AddBarLegend("Q1");
  o.AddBarBar("North");
  o.AddBarValue(10);
  EXPECT_EQ(w.draws, 0);  // adding draws nothing
  norvisk_test::TestDir folder;
  fs::path file = folder.path() / "saved.bmp";
  EXPECT_EQ(o.SaveToFile(file.string().c_str()), S_OK);
  EXPECT_EQ(o.graph()->canvas->GetPixel(2, 2), 0u);  // the canvas's initial black
  EXPECT_EQ(o.DrawGraph(), S_OK);
  EXPECT_EQ(w.draws, 1);
  EXPECT_EQ(w.At(2, 2), BackgroundAt(2, 2));
  EXPECT_EQ(o.SaveToFile(file.string().c_str()), S_OK);
  EXPECT_EQ(fs::file_size(file), 54u + 1200u * 200u);
  for (int y = 0; y < 200; y += 13)
    for (int x = 0; x < 400; x += 17) ASSERT_EQ(o.graph()->canvas->GetPixel(x, y), w.At(x, y));
}

TEST(VGraph, DrawGraphTwiceShowsTheSameCompleteGraph) {
  FakeWindow w;
  VGraph o(w);
  o.DrawBarGraph("(Q1;Q2)(North;10;20)(South;15;25)");
  std::vector<Color> first = w.pixels;
  o.DrawGraph();
  std::vector<Color> second = w.pixels;
  o.DrawGraph();
  EXPECT_EQ(second, first);
  EXPECT_EQ(w.pixels, first);
}

TEST(VGraph, AGraphKeepsItsSizeWhenTheWindowGrows) {
  FakeWindow w;
  w.width = 300;
  w.height = 200;
  VGraph o(w);
  o.CreateBarGraph();
  w.width = 500;
  w.height = 400;
  o.DrawGraph();
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().width, 300);
  EXPECT_EQ(w.At(350, 100), 0x111111u);  // beyond the graph the window keeps its pixels
  o.CreateXYGraph();
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().width, 500);
}

TEST(VGraph, BeforeTheWindowExistsGraphsTakeTheExtentAndNothingIsDrawn) {
  FakeWindow w;
  w.exists = false;
  VGraph o(w);
  EXPECT_EQ(o.DrawBarGraph("(A)(x;1)"), S_OK);
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().width, 192);
  EXPECT_EQ(o.graph()->canvas->surfaceDesc().height, 96);
  EXPECT_EQ(o.DrawGraph(), S_OK);
  EXPECT_EQ(w.draws, 0);
  w.extentX = -1000000000;  // nonsense extents give graphs without a surface, nothing more
  w.extentY = 0x7FFFFFFF;
  EXPECT_EQ(o.CreateXYGraph(), S_OK);
  EXPECT_FALSE(o.graph()->canvas->ready());
}

TEST(VGraph, PaintingRendersPendingChangesAndShowsTheCanvasAsItStands) {
  FakeWindow w;
  VGraph o(w);
  norvisk_test::TargetSurface target(400, 200);
  EXPECT_EQ(o.RenderedPicture().bits, nullptr);  // no graph yet
  EXPECT_FALSE(o.DrawTo(target.target()));

  // Without a point an XY graph has nothing to show and is not rendered.
  o.CreateXYGraph();
  EXPECT_EQ(o.RenderedPicture().bits, nullptr);
  EXPECT_TRUE(o.graph()->dirty);
  EXPECT_FALSE(o.DrawTo(target.target()));
  EXPECT_EQ(target.At(200, 100), 0x111111u);

  ASSERT_EQ(o.DrawXYGraph("(a;1)(b;3)"), S_OK);
  EXPECT_EQ(w.draws, 1);
  o.AddXYValue("c", 2);
  SurfaceBits bits = o.RenderedPicture();
  EXPECT_FALSE(o.graph()->dirty);
  ASSERT_NE(bits.bits, nullptr);
  EXPECT_EQ(bits.bits, o.graph()->canvas->Bits().bits);  // the canvas's own pixels
  EXPECT_EQ(bits.width, 400);
  EXPECT_EQ(bits.height, 200);

  EXPECT_TRUE(o.DrawTo(target.target()));
  EXPECT_EQ(target.At(2, 2), BackgroundAt(2, 2));
  for (int y = 0; y < 200; y += 7)
    for (int x = 0; x < 400; x += 11) ASSERT_EQ(target.At(x, y), o.graph()->canvas->GetPixel(x, y));
  EXPECT_EQ(w.draws, 1);  // painting draws only where it is told

  // A graph whose size gives no surface has no pixels to show.
  w.exists = false;
  w.extentX = 0;
  o.CreateBarGraph();
  o.AddBarBar("x");
  EXPECT_EQ(o.RenderedPicture().bits, nullptr);
  EXPECT_FALSE(o.DrawTo(target.target()));
}

TEST(VGraph, RepeatedCreationLeavesOneGraph) {
  FakeWindow w;
  int graphs = Graph::LiveCount();
  {
    VGraph o(w);
    for (int i = 0; i < 30; ++i) {
      o.CreateBarGraph();
      o.DrawXYGraph("(a;1)(b;2)");
      EXPECT_EQ(Graph::LiveCount(), graphs + 1);
    }
  }
  EXPECT_EQ(Graph::LiveCount(), graphs);
}

}  // namespace
}  // namespace norvisk
