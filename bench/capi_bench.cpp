// libnorvisk's speed through its C interface: a whole bar chart to JPEG in memory against
// libjpeg-turbo alone compressing the same picture to memory, the chart on two threads at once
// against one, and (when built with Python) the Python module's call against the C call. Each
// pair is measured in alternated rounds of one benchmark, the order flipping every round, so
// that the machine's drift falls on both sides.
#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/alternate.h"
#include "norvisk.h"

#ifdef NORVISK_BENCH_PYTHON
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#endif

namespace {

constexpr const char* kFourBars =
    "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";
constexpr int kWidth = 640;
constexpr int kHeight = 300;

// The chart's picture as top-down RGB rows, read back from its bitmap.
std::vector<unsigned char> ChartRgb() {
  unsigned char* bmp = nullptr;
  size_t size = 0;
  std::vector<unsigned char> rgb;
  if (norvisk_bar_chart(kFourBars, kWidth, kHeight, NORVISK_FORMAT_BMP, &bmp, &size) != NORVISK_OK)
    return rgb;
  const size_t rowBytes = (kWidth * 3 + 3) / 4 * 4;
  rgb.resize(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    const unsigned char* src = bmp + 54 + (kHeight - 1 - y) * rowBytes;
    unsigned char* dst = rgb.data() + static_cast<size_t>(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  norvisk_free(bmp);
  return rgb;
}

// The yardstick: the library alone, RGB rows in one call, the writer's settings, into memory.
size_t CompressToMemory(const std::vector<unsigned char>& rgb) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPROW rows[kHeight];
  for (int r = 0; r < kHeight; ++r)
    rows[r] = const_cast<unsigned char*>(rgb.data()) + static_cast<size_t>(r) * kWidth * 3;
  jpeg_write_scanlines(&cinfo, rows, kHeight);
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return size;
}

size_t ChartToMemory() {
  unsigned char* jpeg = nullptr;
  size_t size = 0;
  if (norvisk_bar_chart(kFourBars, kWidth, kHeight, NORVISK_FORMAT_JPEG, &jpeg, &size) !=
      NORVISK_OK) {
    return 0;
  }
  norvisk_free(jpeg);
  return size;
}

void BM_BarChartJpegVsLibjpeg(benchmark::State& state) {
  const std::vector<unsigned char> rgb = ChartRgb();
  if (rgb.empty() || ChartToMemory() == 0) {
    state.SkipWithError("no chart");
    return;
  }
  norvisk_bench::Alternate(
      state, ChartToMemory, [&] { return CompressToMemory(rgb); }, "norvisk_bar_chart", "libjpeg");
}
BENCHMARK(BM_BarChartJpegVsLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BarChartJpeg(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ChartToMemory());
}
BENCHMARK(BM_BarChartJpeg)->Unit(benchmark::kMicrosecond);

// Two host threads that draw charts when told to, and live across rounds as a host's threads
// do (so that what a thread keeps between charts is measured as a host would see it).
class TwoDrawers {
 public:
  TwoDrawers() {
    for (int t = 0; t < 2; ++t) threads_[t] = std::thread([this, t] { Serve(t); });
  }
  ~TwoDrawers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  // `charts` charts on each of the first `threads` threads; returns when all are drawn, with
  // how many were drawn.
  int Round(int threads, int charts) {
    std::unique_lock<std::mutex> lock(mutex_);
    threadsInRound_ = threads;
    charts_ = charts;
    busy_ = threads;
    drawn_ = 0;
    ++round_;
    wake_.notify_all();
    done_.wait(lock, [this] { return busy_ == 0; });
    return drawn_;
  }

 private:
  void Serve(int thread) {
    long seen = 0;
    for (;;) {
      int charts;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || (round_ != seen && thread < threadsInRound_); });
        if (stop_) return;
        seen = round_;
        charts = charts_;
      }
      int drawn = 0;
      for (int n = 0; n < charts; ++n) drawn += ChartToMemory() > 0;
      std::lock_guard<std::mutex> lock(mutex_);
      drawn_ += drawn;
      if (--busy_ == 0) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::thread threads_[2];
  long round_ = 0;
  int threadsInRound_ = 0;
  int charts_ = 0;
  int busy_ = 0;
  int drawn_ = 0;
  bool stop_ = false;
};

// Charts per second on two threads against one, rounds alternated: a chart shares nothing
// with another, so two threads on two idle cores should draw nearly twice as many.
void BM_BarChartTwoThreadsVsOne(benchmark::State& state) {
  constexpr int kCharts = 40;  // per thread and round
  using Clock = std::chrono::steady_clock;
  TwoDrawers drawers;
  drawers.Round(2, 5);  // both threads warmed up
  double seconds[2] = {0, 0};
  int charts[2] = {0, 0};
  bool oneFirst = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const int side = (turn == 0) == oneFirst ? 0 : 1;
      const auto start = Clock::now();
      const int drawn = drawers.Round(side + 1, kCharts);
      seconds[side] += std::chrono::duration<double>(Clock::now() - start).count();
      if (drawn != (side + 1) * kCharts) {
        state.SkipWithError("a chart was not drawn");
        return;
      }
      charts[side] += drawn;
    }
    oneFirst = !oneFirst;
  }
  const double perSecond[2] = {charts[0] / seconds[0], charts[1] / seconds[1]};
  state.counters["one_thread_charts_per_s"] = perSecond[0];
  state.counters["two_threads_charts_per_s"] = perSecond[1];
  state.counters["speedup"] = perSecond[1] / perSecond[0];
}
BENCHMARK(BM_BarChartTwoThreadsVsOne)->Unit(benchmark::kMillisecond)->MinTime(4.0)->UseRealTime();

#ifdef NORVISK_BENCH_PYTHON
// norvisk.bar_chart(data, "jpeg", 640, 300) through the embedded interpreter.
class PythonChart {
 public:
  PythonChart() {
    Py_InitializeEx(0);
    PyObject* sys_path = PySys_GetObject("path");  // borrowed
    PyObject* dir = PyUnicode_FromString(NORVISK_PYTHON_DIR);
    if (sys_path && dir) PyList_Insert(sys_path, 0, dir);
    Py_XDECREF(dir);
    PyObject* module = PyImport_ImportModule("norvisk");
    if (module) function_ = PyObject_GetAttrString(module, "bar_chart");
    Py_XDECREF(module);
    args_ = Py_BuildValue("(ssii)", kFourBars, "jpeg", kWidth, kHeight);
    if (!function_ || !args_) PyErr_Print();
  }
  bool ok() const { return function_ && args_; }
  size_t operator()() const {
    PyObject* bytes = PyObject_CallObject(function_, args_);
    if (!bytes) return 0;
    const size_t size = static_cast<size_t>(PyBytes_Size(bytes));
    Py_DECREF(bytes);
    return size;
  }

 private:
  PyObject* function_ = nullptr;
  PyObject* args_ = nullptr;
};

void BM_PythonVsC(benchmark::State& state) {
  static const PythonChart python;
  if (!python.ok() || python() != ChartToMemory()) {
    state.SkipWithError("the Python module gives no chart, or another one");
    return;
  }
  norvisk_bench::Alternate(state, python, ChartToMemory, "python", "c");
}
BENCHMARK(BM_PythonVsC)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

}  // namespace

BENCHMARK_MAIN();
