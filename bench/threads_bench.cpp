// The four-bar chart to a JPEG file on one and on two threads, each thread with an NVGraph of its
// own: the objects share no state, so a host's threads are how it draws more charts at once.
// Charts per second are the items per second, over wall-clock time. Compare the two only from one
// run with interleaved repetitions, e.g.
//   threads_bench --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "objects/nv_graph.h"

namespace {

const char kFourBars[] = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

// A file of each thread's own, in memory where the system has a memory file system: rewriting a
// file on disk waits for the disk, which the threads would then share.
std::string ThreadFile(int thread) {
  const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                        ? "/dev/shm"
                                        : std::filesystem::temp_directory_path();
  return (dir / ("norvisk-bench-thread" + std::to_string(thread) + ".jpg")).string();
}

void BM_FourBarsToJpegPerThread(benchmark::State& state) {
  norvisk::NVGraph graph;
  const std::string file = ThreadFile(state.thread_index());
  for (auto _ : state) {
    if (graph.DrawBarGraph(file, kFourBars) != S_OK) {
      state.SkipWithError("the chart could not be drawn");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  std::error_code ec;
  std::filesystem::remove(file, ec);
}
BENCHMARK(BM_FourBarsToJpegPerThread)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
