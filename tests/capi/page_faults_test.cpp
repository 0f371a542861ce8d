// Charts of a size drawn before take no new pages: the surface and the picture reuse memory an
// earlier chart had, on every thread that draws. Counted as the system counts them (minor page
// faults of each thread, resident memory of the process); in the plain build only, where the
// allocator is the C library's.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "norvisk.h"

namespace {

constexpr int kWarmUp = 50;
constexpr int kCharts = 1000;  // on each thread
constexpr int kWidth = 700;    // not the graph's first size: the surface is made three times
constexpr int kHeight = 320;
// A few faults are the system's own doing (a page of the stack, a clock read).
constexpr long kHandful = 16;

long ThreadMinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Chart `n` of a thread: a bar chart as JPEG or an XY chart as a bitmap, its numbers new. The
// picture is left in *picture when that is given (the caller frees it), else freed at once.
bool Draw(int thread, int n, unsigned char** picture = nullptr) {
  char data[160];
  unsigned char* out = nullptr;
  size_t size = 0;
  int status;
  if (n % 2 == 0) {
    std::snprintf(data, sizeof data, "(Q1;Q2;Q3)(North;%d;20;30)(South;15;%d;35)(East;5;10;%d)",
                  n % 97, thread + n % 13, 1 + n % 41);
    status = norvisk_bar_chart(data, kWidth, kHeight, NORVISK_FORMAT_JPEG, &out, &size);
  } else {
    std::snprintf(data, sizeof data, "(Jan;%d)(Feb;20)(Mar;%d)(Apr;-4)", n % 89, thread + n % 7);
    status = norvisk_xy_chart(data, kWidth, kHeight, NORVISK_FORMAT_BMP, &out, &size);
  }
  const bool drawn = status == NORVISK_OK && out != nullptr && size > 1000;
  if (picture != nullptr)
    *picture = out;
  else
    norvisk_free(out);
  return drawn;
}

struct ThreadResult {
  int drawn = 0;
  long faults = -1;
};

void DrawOnTwoThreads() {
  constexpr int kThreads = 2;
  ThreadResult results[kThreads];
  std::atomic<int> warm{0};
  std::atomic<bool> measured{false};
  long residentBefore = 0;
  auto work = [&](int thread) {
    ThreadResult& result = results[thread];
    // Each picture is kept until the next one is drawn, so that the threads have needed all
    // the memory they need at once, whenever each drew what.
    unsigned char* previous = nullptr;
    for (int n = 0; n < kWarmUp; ++n) {
      unsigned char* picture = nullptr;
      result.drawn += Draw(thread, n, &picture);
      norvisk_free(previous);
      previous = picture;
    }
    norvisk_free(previous);
    warm.fetch_add(1);
    // Both threads warmed up before either counts, and the resident size read in between.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!measured.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    const long before = ThreadMinorFaults();
    for (int n = kWarmUp; n < kWarmUp + kCharts; ++n) result.drawn += Draw(thread, n);
    result.faults = ThreadMinorFaults() - before;
  };
  std::thread first(work, 0), second(work, 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (warm.load() < kThreads && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  residentBefore = ResidentBytes();
  measured.store(true);
  first.join();
  second.join();
  const long residentAfter = ResidentBytes();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    EXPECT_EQ(results[t].drawn, kWarmUp + kCharts);
    EXPECT_LE(results[t].faults, kHandful) << "minor page faults in " << kCharts << " charts";
  }
  // Flat: less than one picture's surface (672,000 bytes) more than after the warm-up.
  EXPECT_LT(residentAfter - residentBefore, 512 * 1024)
      << residentBefore << " bytes resident before, " << residentAfter << " after";
}

// The allocator with a fixed threshold for mapping large blocks, as a service sets it to give
// large pictures back: that stops it from raising the threshold by which it keeps freed memory
// on its heaps, so a picture's block freed at the top of a heap goes back to the system.
TEST(PageFaultsTest, ChartsOfASizeDrawnBeforeTakeNoNewPages) {
  ASSERT_EQ(mallopt(M_MMAP_THRESHOLD, 4 << 20), 1);
  DrawOnTwoThreads();
}

// The allocator as a host may set it: every block of 128 KiB or more mapped when it is taken
// and unmapped when it is freed, whatever the allocator would otherwise keep. A picture in
// fresh memory then costs its pages every time.
TEST(PageFaultsTest, NoNewPagesWhereLargeBlocksGoBackToTheSystem) {
  ASSERT_EQ(mallopt(M_MMAP_THRESHOLD, 128 * 1024), 1);
  DrawOnTwoThreads();
}

}  // namespace
