// The service's drawing in process: what one worker does per picture, on 1 and 2 threads, as
// the reference for the HTTP figures of bench/serve_wrk.sh.
#include <benchmark/benchmark.h>

#include <string>

#include "serve/render.h"
#include "serve/request.h"

namespace {

using norvisk::serve::ChartRequest;
using norvisk::serve::Route;

constexpr const char* kFourBars =
    "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

void BM_ServeRenderFourBarJpeg(benchmark::State& state) {
  ChartRequest chart;
  chart.route = Route::BarJpeg;
  chart.data = kFourBars;
  std::size_t bytes = 0;
  for (auto _ : state) {
    unsigned char* out = nullptr;
    std::size_t size = 0;
    if (norvisk::serve::Render(chart, &out, &size) != norvisk::serve::RenderResult::Ok) {
      state.SkipWithError("the chart was not drawn");
      break;
    }
    bytes += size;
    norvisk::serve::FreePicture(out);
  }
  state.SetItemsProcessed(state.iterations());
  benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_ServeRenderFourBarJpeg)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
