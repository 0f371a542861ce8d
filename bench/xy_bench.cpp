// XY graph speed: reading data strings, and whole charts written as JPEG through NVGraph.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/alternate.h"
#include "bench/bench_files.h"
#include "bench/bare_jpeg.h"
#include "graph/xy_graph.h"
#include "objects/nv_graph.h"

namespace {

using norvisk::XYGraph;

std::string XYData(std::size_t bytes) {
  std::string data;
  for (int i = 0; data.size() < bytes; ++i)
    data += "(Point " + std::to_string(i) + ";" + std::to_string(i % 97) + ".25)";
  return data;
}

void BM_ReadXYData(benchmark::State& state) {
  const std::string data = XYData(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    XYGraph graph(0, 0);
    graph.LoadData(data);
    benchmark::DoNotOptimize(graph.data().MaxValue());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * data.size());
}
BENCHMARK(BM_ReadXYData)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// A client's DrawXYGraph to a .jpg file: new graph, background, data, file.
void BM_DrawXYGraphJpeg(benchmark::State& state) {
  const std::string data = norvisk_bench::XYPoints(static_cast<int>(state.range(0)));
  const std::string path = norvisk_bench::TempPath("xy.jpg");
  norvisk::NVGraph object;
  for (auto _ : state) benchmark::DoNotOptimize(object.DrawXYGraph(path, data));
}
BENCHMARK(BM_DrawXYGraphJpeg)->Arg(12)->Arg(200)->Unit(benchmark::kMicrosecond);

// The chart of `data` as RGB rows, as DrawXYGraph draws it.
norvisk_bench::RgbPicture ChartPicture(const std::string& data) {
  XYGraph graph(640, 300);
  graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
  graph.LoadData(data);
  graph.Render();
  return norvisk_bench::FromCanvas(*graph.canvas);
}

// The yardstick: libjpeg alone compressing the same chart, as RGB rows, to a file.
void BM_BareLibjpegXY(benchmark::State& state) {
  const norvisk_bench::RgbPicture picture =
      ChartPicture(norvisk_bench::XYPoints(static_cast<int>(state.range(0))));
  const std::string path = norvisk_bench::TempPath("xy-bare.jpg");
  for (auto _ : state) benchmark::DoNotOptimize(norvisk_bench::CompressToFile(picture, path));
}
BENCHMARK(BM_BareLibjpegXY)->Arg(12)->Arg(200)->Unit(benchmark::kMicrosecond);

// The two above in alternated rounds of one benchmark: the whole DrawXYGraph to a file against
// libjpeg alone writing the same picture; the ratio is the chart's cost in units of the
// compression's.
void BM_DrawXYGraphJpegVsLibjpeg(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  const std::string data = norvisk_bench::XYPoints(points);
  const std::string path = norvisk_bench::TempPath("xy.jpg");
  const std::string barePath = norvisk_bench::TempPath("xy-bare.jpg");
  const norvisk_bench::RgbPicture picture = ChartPicture(data);
  norvisk::NVGraph object;
  norvisk::ExportResult outcome = norvisk::ExportResult::NotWritten;
  object.DrawXYGraph(path, data, &outcome);
  if (outcome != norvisk::ExportResult::Written ||
      !norvisk_bench::CompressToFile(picture, barePath)) {
    state.SkipWithError("no chart");
    return;
  }
  norvisk_bench::Alternate(
      state, [&] { return object.DrawXYGraph(path, data); },
      [&] { return norvisk_bench::CompressToFile(picture, barePath); }, "DrawXYGraph", "libjpeg");
}
BENCHMARK(BM_DrawXYGraphJpegVsLibjpeg)
    ->Arg(12)
    ->Arg(200)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

}  // namespace
