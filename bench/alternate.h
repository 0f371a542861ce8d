// Two calls measured in alternated rounds of one benchmark, the order flipping every round, so
// that the machine's drift and other processes' load fall on both sides alike.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>

namespace norvisk_bench {

// This thread's processor time: what other processes on a loaded machine do not add to.
inline double ThreadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Runs `a` and `b` once each per iteration, in the order a-b, then b-a, ...; reports each
// side's mean processor time per call (_cpu_us) and wall time (_us), the ratio a / b of the
// processor times (ratio) and of the wall times (wall_ratio).
template <class A, class B>
void Alternate(benchmark::State& state, A a, B b, const char* aName, const char* bName) {
  using Clock = std::chrono::steady_clock;
  Clock::duration wall[2]{};
  double cpu[2] = {0, 0};
  bool aFirst = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const int side = (turn == 0) == aFirst ? 0 : 1;
      const auto start = Clock::now();
      const double cpuStart = ThreadCpuUs();
      if (side == 0)
        benchmark::DoNotOptimize(a());
      else
        benchmark::DoNotOptimize(b());
      cpu[side] += ThreadCpuUs() - cpuStart;
      wall[side] += Clock::now() - start;
    }
    aFirst = !aFirst;
  }
  const double n = static_cast<double>(state.iterations());
  const std::string names[2] = {aName, bName};
  double wallUs[2];
  for (int side = 0; side < 2; ++side) {
    wallUs[side] = std::chrono::duration<double, std::micro>(wall[side]).count();
    state.counters[names[side] + "_cpu_us"] = cpu[side] / n;
    state.counters[names[side] + "_us"] = wallUs[side] / n;
  }
  state.counters["ratio"] = cpu[0] / cpu[1];
  state.counters["wall_ratio"] = wallUs[0] / wallUs[1];
}

}  // namespace norvisk_bench
