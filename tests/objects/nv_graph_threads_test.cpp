// NVGraph objects on threads of their own: each thread owns its object and draws its own charts,
// and every file comes out byte for byte as the same chart drawn with no other thread running.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "graph/graph.h"
#include "objects/nv_graph.h"
#include "raster/canvas.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

struct Chart {
  bool bar;
  const char* data;
  const char* extension;
  int width;  // 0: the object's own size
};

// Bar and XY charts, both formats, with texts beyond ASCII and a resized graph: the glyphs,
// the background and the JPEG writer are all in use on every thread at once.
const Chart kCharts[] = {
    {true, "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)", ".jpg", 0},
    {false, "(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)", ".bmp", 0},
    {true, "(\xC3\xA9t\xC3\xA9;hiver)(caf\xC3\xA9;1.5;2)(th\xC3\xA9;-3;4e2)", ".bmp", 480},
    {false, "(a;-1)(b;1e6)(c;3)(d;0)(e;7)(f;7)(g;-2)(h;5)(i;9)(j;1)", ".jpg", 800},
    {true, "(A;B;C;D;E;F)(x;1;2;3;4;5;6)(y;6;5;4;3;2;1)", ".jpg", 320},
    {false, "(\xE2\x82\xAC;12.5)(\xC2\xA3;13)", ".jpg", 0},
};
constexpr int kChartCount = sizeof(kCharts) / sizeof(kCharts[0]);
constexpr int kThreads = 8;
constexpr int kChartsPerThread = 200;

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Draws chart `c` with `graph` into `file`; whether the file came out is for the caller to see.
bool Draw(NVGraph& graph, const Chart& c, const std::string& file) {
  HRESULT hr = c.bar ? graph.DrawBarGraph("", c.data) : graph.DrawXYGraph("", c.data);
  if (hr != S_OK) return false;
  if (c.width != 0 && graph.SetWidth(c.width) != S_OK) return false;
  return graph.SaveToFile(file) == S_OK;
}

TEST(NVGraphThreads, EightObjectsDrawingAtOnceWriteTheFilesOfOne) {
  norvisk_test::TestDir folder;
  std::vector<std::string> expected(kChartCount);
  {
    NVGraph alone;
    for (int c = 0; c < kChartCount; ++c) {
      const std::string file = folder.File(std::to_string(c) + "-alone" + kCharts[c].extension);
      ASSERT_TRUE(Draw(alone, kCharts[c], file));
      expected[c] = Read(file);
      ASSERT_GT(expected[c].size(), 1000u) << c;
    }
  }
  for (int a = 0; a < kChartCount; ++a)
    for (int b = a + 1; b < kChartCount; ++b) ASSERT_NE(expected[a], expected[b]) << a << " " << b;

  std::atomic<int> same{0};
  std::vector<std::vector<int>> differing(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      NVGraph graph;
      for (int i = 0; i < kChartsPerThread; ++i) {
        const int c = (t + i) % kChartCount;
        const std::string file =
            folder.File(std::to_string(t) + "-" + std::to_string(i) + kCharts[c].extension);
        if (Draw(graph, kCharts[c], file) && Read(file) == expected[c])
          ++same;
        else
          differing[t].push_back(i);
        std::filesystem::remove(file);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(same.load(), kThreads * kChartsPerThread);
  for (int t = 0; t < kThreads; ++t)
    EXPECT_TRUE(differing[t].empty()) << "thread " << t << ", first chart " << differing[t][0];
  EXPECT_EQ(Graph::LiveCount(), 0);
  EXPECT_EQ(Canvas::LiveCount(), 0);
}

}  // namespace
}  // namespace norvisk
