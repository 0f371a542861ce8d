// Bar graph speed: reading data strings, rendering, and a whole chart written as JPEG.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bare_jpeg.h"
#include "graph/bar_graph.h"

namespace {

using norvisk::BarGraph;

constexpr const char* kFourBars =
    "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

std::string BarData(std::size_t bytes) {
  std::string data = "(Q1;Q2;Q3;Q4)";
  for (int i = 0; data.size() < bytes; ++i)
    data += "(Bar " + std::to_string(i) + ";12.5;7;3.25e1;-4)";
  return data;
}

void BM_ReadBarData(benchmark::State& state) {
  const std::string data = BarData(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    BarGraph graph(0, 0);
    graph.LoadData(data);
    benchmark::DoNotOptimize(graph.data().maxTotal);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * data.size());
}
BENCHMARK(BM_ReadBarData)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// Rendering alone: the picture over the background, without the background load.
void BM_RenderFourBars(benchmark::State& state) {
  BarGraph graph(640, 300);
  graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
  graph.LoadData(kFourBars);
  graph.Render();
  for (auto _ : state) {
    graph.dirty = true;
    graph.Render();
  }
}
BENCHMARK(BM_RenderFourBars)->Unit(benchmark::kMicrosecond);

void BM_LoadBackground(benchmark::State& state) {
  BarGraph graph(640, 300);
  for (auto _ : state) graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
}
BENCHMARK(BM_LoadBackground)->Unit(benchmark::kMicrosecond);

// What a client's DrawBarGraph to a .jpg file costs: new graph, background, data, file.
void BM_DrawBarGraphJpeg(benchmark::State& state) {
  const std::string path = norvisk_bench::TempPath("bar.jpg");
  for (auto _ : state) {
    BarGraph graph(640, 300);
    graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
    graph.LoadData(kFourBars);
    benchmark::DoNotOptimize(graph.SaveToFile(path.c_str()));
  }
}
BENCHMARK(BM_DrawBarGraphJpeg)->Unit(benchmark::kMicrosecond);
// One call a repetition: the median of single calls, the figure the COM benchmark reports for
// the same call through Norvisk.dll.
BENCHMARK(BM_DrawBarGraphJpeg)
    ->Name("BM_DrawBarGraphJpeg/single")
    ->Iterations(1)
    ->Repetitions(200)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMicrosecond);

// The yardstick: libjpeg alone compressing the same 640 x 300 chart, as RGB rows, to a file.
void BM_BareLibjpeg640x300(benchmark::State& state) {
  const std::string path = norvisk_bench::TempPath("bare.jpg");
  BarGraph graph(640, 300);
  graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
  graph.LoadData(kFourBars);
  graph.Render();
  const norvisk_bench::RgbPicture picture = norvisk_bench::FromCanvas(*graph.canvas);
  for (auto _ : state) benchmark::DoNotOptimize(norvisk_bench::CompressToFile(picture, path));
}
BENCHMARK(BM_BareLibjpeg640x300)->Unit(benchmark::kMicrosecond);

BENCHMARK(norvisk_bench::BM_WriteChartSizedFile)->Unit(benchmark::kMicrosecond);

}  // namespace
