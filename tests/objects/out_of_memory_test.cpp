// Memory running out inside the graph objects' methods, one allocation at a time: every method,
// called as the component and the command call it (inside the exception boundary), reports
// E_OUTOFMEMORY or its own status, leaves no graph without a kind (or the other way round),
// leaks nothing, and the object works as before once memory is there again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "graph/graph.h"
#include "objects/boundary.h"
#include "objects/nv_graph.h"
#include "objects/v_graph.h"
#include "support/failing_allocator.h"
#include "support/test_support.h"

#if !defined(_WIN32)
#include <malloc.h>
#endif

namespace norvisk {
namespace {

using norvisk_test::FailingAllocator;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)
// Surfaces are the platform's bitmaps there, not heap blocks: nothing to measure by.
bool HeapInUse(std::size_t*) { return false; }
#else
// Bytes the C library has handed out and not had back (small blocks and mapped ones).
bool HeapInUse(std::size_t* bytes) {
  struct mallinfo2 info = mallinfo2();
  *bytes = info.uordblks + info.hblkhd;
  return true;
}
#endif

std::size_t FirstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

template <class Object>
bool Consistent(const Object& o) {
  return (o.graph() != nullptr) == (o.graphKind() != GraphKind::None);
}

constexpr const char* kBarData = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)";
constexpr const char* kXYData = "(Jan;10)(Feb;20)(Mar;15)(Apr;12)";

// One method call on an object made ready by `prepare`, and the file it writes (if any).
template <class Object>
struct Call {
  const char* name;
  std::function<void(Object&)> prepare;
  std::function<HRESULT(Object&)> call;
  HRESULT status;
  // Renders over the picture already there, so that a rendering cut short is drawn over again.
  bool overItself = false;
};

#if defined(_WIN32)
// GDI blends the edges of glyphs into what is under them: text drawn twice over itself comes
// out darker there, so a picture rendered again over a partial one differs in those pixels.
constexpr bool kTextDrawnTwiceIsTheSame = false;
#else
constexpr bool kTextDrawnTwiceIsTheSame = true;  // glyph pixels are exactly the text colour
#endif

// A window of 320 x 160 pixels that can always be drawn into.
class PixelWindow final : public ControlWindow {
 public:
  bool Exists() override { return true; }
  void ClientSize(int* width, int* height) override {
    *width = 320;
    *height = 160;
  }
  void Extent(long* width, long* height) override { *width = *height = 0; }
  DeviceContext AcquireTarget() override { return surface_.target(); }
  void ReleaseTarget(DeviceContext) override {}

 private:
  norvisk_test::TargetSurface surface_{320, 160};
};

struct Outcome {
  int failures = 0;     // calls that saw an allocation refused
  int outOfMemory = 0;  // of them, those that reported it
};

// Runs `c` once for every allocation it makes, that allocation refused (and with `sticky`
// every one after it). Afterwards, with memory back, the same object must make the same call
// with its normal status and, for calls that write `file`, the same bytes as a clean run.
template <class Object, class Make>
Outcome RunWithFailures(const Call<Object>& c, Make make, bool sticky, const std::string& file) {
  std::string expected;
  {
    auto o = make();
    c.prepare(*o);
    EXPECT_EQ(c.call(*o), c.status) << c.name << " without failures";
    expected = ReadFile(file);
  }
  Outcome out;
  for (long n = 0; n < 20000; ++n) {
    auto o = make();
    c.prepare(*o);
    std::filesystem::remove(file);
    FailingAllocator::Arm(n, sticky);
    HRESULT hr = Guarded([&] { return c.call(*o); });
    long refused = FailingAllocator::Disarm();
    if (refused == 0) {
      EXPECT_EQ(hr, c.status) << c.name << ": " << n << " allocations, none refused";
      return out;
    }
    ++out.failures;
    if (hr == E_OUTOFMEMORY) {
      ++out.outOfMemory;
    } else {
      EXPECT_EQ(hr, c.status) << c.name << ", allocation " << n << " refused";
    }
    EXPECT_TRUE(Consistent(*o)) << c.name << ", allocation " << n << " refused";
    // What failed half-way is mended by the next call of its own.
    EXPECT_EQ(c.call(*o), c.status) << c.name << " again after allocation " << n << " failed";
    if (!file.empty() && (!c.overItself || kTextDrawnTwiceIsTheSame)) {
      std::string got = ReadFile(file);
      EXPECT_TRUE(got == expected)
          << c.name << ", allocation " << n << ": " << got.size()
          << " bytes, first difference at byte " << FirstDifference(got, expected);
    }
  }
  ADD_FAILURE() << c.name << " never finished";
  return out;
}

class OutOfMemory : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    graphs_ = Graph::LiveCount();
    canvases_ = Canvas::LiveCount();
  }
  void TearDown() override {
    EXPECT_EQ(Graph::LiveCount(), graphs_);
    EXPECT_EQ(Canvas::LiveCount(), canvases_);
  }
  bool sticky() const { return GetParam(); }

  norvisk_test::TestDir folder;
  std::string bmp = folder.File("chart.bmp");
  std::string jpg = folder.File("chart.jpg");

 private:
  int graphs_ = 0;
  int canvases_ = 0;
};

TEST_P(OutOfMemory, NVGraphMethodsReportItAndStayWhole) {
  auto make = [] { return std::make_unique<NVGraph>(); };
  auto none = [](NVGraph&) {};
  auto bar = [](NVGraph& o) {
    o.CreateBarGraph();
    o.AddBarLegend("Q1");
    o.AddBarBar("North");
    o.AddBarValue(10);
  };
  auto xy = [](NVGraph& o) {
    o.CreateXYGraph();
    o.AddXYValue("Jan", 10);
  };
  const std::u16string wideBmp(bmp.begin(), bmp.end());
  const Call<NVGraph> withFiles[] = {
      {"DrawBarGraph", none, [&](NVGraph& o) { return o.DrawBarGraph(bmp, kBarData); }, S_OK},
      {"DrawXYGraph", none, [&](NVGraph& o) { return o.DrawXYGraph(bmp, kXYData); }, S_OK},
      {"DrawBarGraph (JPEG, automation strings)", none,
       [&](NVGraph& o) {
         std::u16string wideJpg(jpg.begin(), jpg.end());
         return o.DrawBarGraph(wideJpg.c_str(), u"(Q1;Q2)(N\u00f6rth;10;20)");
       },
       S_OK},
      {"SaveToFile", bar, [&](NVGraph& o) { return o.SaveToFile(wideBmp.c_str()); }, S_OK},
      {"SaveToFile (XY)", xy, [&](NVGraph& o) { return o.SaveToFile(bmp); }, S_OK},
  };
  Outcome total;
  for (const auto& c : withFiles) {
    const std::string& file = std::string(c.name).find("JPEG") != std::string::npos ? jpg : bmp;
    Outcome o = RunWithFailures(c, make, sticky(), file);
    total.failures += o.failures;
    total.outOfMemory += o.outOfMemory;
  }
  const Call<NVGraph> others[] = {
      {"CreateBarGraph", xy, [](NVGraph& o) { return o.CreateBarGraph(); }, S_OK},
      {"CreateXYGraph", bar, [](NVGraph& o) { return o.CreateXYGraph(); }, S_OK},
      {"AddBarBar", bar, [](NVGraph& o) { return o.AddBarBar(u"South"); }, S_OK},
      {"AddBarLegend", bar, [](NVGraph& o) { return o.AddBarLegend("Q2"); }, S_OK},
      {"AddBarValue", bar, [](NVGraph& o) { return o.AddBarValue(5); }, S_OK},
      {"AddXYValue", xy, [](NVGraph& o) { return o.AddXYValue(u"Feb", 20); }, S_OK},
      {"SetWidth", bar, [](NVGraph& o) { return o.SetWidth(500); }, S_OK},
      {"SetHeight", xy, [](NVGraph& o) { return o.SetHeight(200); }, S_OK},
  };
  for (const auto& c : others) {
    Outcome o = RunWithFailures(c, make, sticky(), std::string());
    total.failures += o.failures;
    total.outOfMemory += o.outOfMemory;
  }
  // Most refusals reach the caller; those that do not are the writers' own, reported as the
  // file not being there, and the canvas going without a scratch surface.
  EXPECT_GT(total.outOfMemory, total.failures / 2);
}

TEST_P(OutOfMemory, VGraphMethodsReportItAndStayWhole) {
  PixelWindow window;
  auto make = [&] { return std::make_unique<VGraph>(window); };
  auto none = [](VGraph&) {};
  auto bar = [](VGraph& o) { o.DrawBarGraph(kBarData); };
  const Call<VGraph> calls[] = {
      {"DrawBarGraph", none, [](VGraph& o) { return o.DrawBarGraph(kBarData); }, S_OK},
      {"DrawXYGraph", none, [](VGraph& o) { return o.DrawXYGraph(u"(a;1)(b;2)"); }, S_OK},
      {"CreateBarGraph", bar, [](VGraph& o) { return o.CreateBarGraph(); }, S_OK},
      {"DrawGraph", bar, [](VGraph& o) { return o.DrawGraph(); }, S_OK},
      {"SaveToFile", bar, [&](VGraph& o) { return o.SaveToFile(bmp); }, S_OK},
      // Rendered over what the window shows, without a fresh background.
      {"SaveToFile of a changed graph",
       [](VGraph& o) {
         o.DrawBarGraph(kBarData);
         o.AddBarValue(12);
       },
       [&](VGraph& o) { return o.SaveToFile(bmp); }, S_OK, true},
  };
  Outcome total;
  for (const auto& c : calls) {
    Outcome o =
        RunWithFailures(c, make, sticky(), std::string(c.name).find("SaveToFile") == 0 ? bmp : "");
    total.failures += o.failures;
    total.outOfMemory += o.outOfMemory;
  }
  EXPECT_GT(total.outOfMemory, total.failures / 2);
}

// The pixel memory of a surface is the largest block a failed call could leave behind.
TEST_P(OutOfMemory, FailedCallsLeaveNoMemoryBehind) {
  std::size_t before = 0, after = 0;
  if (!HeapInUse(&before))
    GTEST_SKIP() << "Windows builds (run under Wine) draw into GDI bitmaps: no heap figures";
  auto draw = [&](NVGraph& o) {
    o.DrawBarGraph(bmp, kBarData);
    return o.DrawXYGraph(jpg, kXYData);
  };
  {
    NVGraph warm;  // fonts, glyphs and surfaces kept for the process are made here
    draw(warm);
  }
  HeapInUse(&before);
  for (long n = 0; n < 20000; ++n) {
    NVGraph o;
    FailingAllocator::Arm(n, sticky());
    Guarded([&] { return draw(o); });
    if (FailingAllocator::Disarm() == 0) break;
  }
  // A surface of the chart is 576,000 bytes; a few small blocks may stay with library caches.
  HeapInUse(&after);
  EXPECT_LT(after, before + 64 * 1024);
}

INSTANTIATE_TEST_SUITE_P(OneRefused, OutOfMemory, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(AllRefusedFromThereOn, OutOfMemory, ::testing::Values(true));

}  // namespace
}  // namespace norvisk
