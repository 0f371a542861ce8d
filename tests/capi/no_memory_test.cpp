// libnorvisk when memory runs out: every allocation of a call is made to fail in turn, and the
// call either reports NORVISK_NO_MEMORY, leaving nothing behind and no graph half made, or does
// its whole work with the right bytes. Allocation goes through malloc hooks of this program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <vector>

#include "norvisk.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

// Allocations counted from when a countdown is set; the one that reaches zero fails.
std::atomic<long> live_blocks{0};
thread_local long countdown = -1;  // -1: nothing fails
thread_local long allocations = 0;

bool FailThisOne() {
  ++allocations;
  if (countdown < 0) return false;
  return countdown-- == 0;
}

void* Counted(void* block) {
  if (block != nullptr) live_blocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return FailThisOne() ? nullptr : Counted(__libc_malloc(size)); }

void* calloc(size_t count, size_t size) {
  return FailThisOne() ? nullptr : Counted(__libc_calloc(count, size));
}

void* realloc(void* block, size_t size) {
  if (block == nullptr) return malloc(size);
  if (size == 0) {
    free(block);
    return nullptr;
  }
  // A failed realloc leaves the block as it was.
  return FailThisOne() ? nullptr : __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
  return FailThisOne() ? nullptr : Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* block = memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

void free(void* block) {
  if (block == nullptr) return;
  live_blocks.fetch_sub(1, std::memory_order_relaxed);
  __libc_free(block);
}

}  // extern "C"

namespace {

const char* const kBar = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)";
const char* const kXY = "(Jan;10)(Feb;20)(Mar;15)(Apr;-4)";

struct Picture {
  int status = -1;
  std::vector<unsigned char> bytes;
};

using ChartFn = int (*)(const char*, int, int, norvisk_format, unsigned char**, size_t*);

// One chart; with `failAt` 0 or more, that allocation of the library's call fails.
Picture Chart(ChartFn chart, const char* data, norvisk_format format, long failAt = -1) {
  unsigned char* out = nullptr;
  size_t size = 0;
  Picture p;
  countdown = failAt;
  p.status = chart(data, 700, 320, format, &out, &size);
  countdown = -1;
  if (out != nullptr) p.bytes.assign(out, out + size);
  norvisk_free(out);
  return p;
}

// How many allocations one chart makes once everything that is made once is there.
long AllocationsOf(ChartFn chart, const char* data, norvisk_format format) {
  allocations = 0;
  Chart(chart, data, format);
  return allocations;
}

struct ChartCase {
  const char* name;
  ChartFn chart;
  const char* data;
  norvisk_format format;
};

class NoMemoryTest : public ::testing::TestWithParam<ChartCase> {};

TEST_P(NoMemoryTest, EveryFailedAllocationIsReportedAndLeavesNothing) {
  const ChartCase c = GetParam();
  // The first charts make what a thread keeps for all later ones (fonts, the background).
  const Picture want = Chart(c.chart, c.data, c.format);
  ASSERT_EQ(want.status, NORVISK_OK);
  ASSERT_FALSE(want.bytes.empty());
  const long total = AllocationsOf(c.chart, c.data, c.format);
  ASSERT_GT(total, 5);
  // Results are kept in room made beforehand: the test's own reports must not allocate while
  // the blocks are counted.
  std::vector<long> leaked, unnoticed, wrongStatus;
  leaked.reserve(total);
  unnoticed.reserve(total);
  wrongStatus.reserve(total);
  int reported = 0;
  for (long k = 0; k < total; ++k) {
    const long before = live_blocks.load();
    int status;
    bool same;
    {
      const Picture got = Chart(c.chart, c.data, c.format, k);
      status = got.status;
      same = got.bytes == want.bytes;
    }  // the picture's own block is gone before the blocks are counted
    if (live_blocks.load() != before) leaked.push_back(k);
    if (status == NORVISK_NO_MEMORY) {
      ++reported;
    } else if (status != NORVISK_OK) {
      wrongStatus.push_back(k);
    } else if (!same) {
      unnoticed.push_back(k);
    }
  }
  auto list = [](const std::vector<long>& ks) {
    std::string text;
    for (long k : ks) {
      text += ' ';
      text += std::to_string(k);
    }
    return text;
  };
  EXPECT_TRUE(leaked.empty()) << "blocks left behind when allocation k failed, k =" << list(leaked);
  EXPECT_TRUE(unnoticed.empty()) << "wrong picture reported as done, k =" << list(unnoticed);
  EXPECT_TRUE(wrongStatus.empty()) << "neither done nor out of memory, k =" << list(wrongStatus);
  // Most allocations are needed: their failure must have been reported.
  EXPECT_GT(reported, total / 2) << "of " << total;
}

INSTANTIATE_TEST_SUITE_P(
    Charts, NoMemoryTest,
    ::testing::Values(ChartCase{"bar_jpeg", norvisk_bar_chart, kBar, NORVISK_FORMAT_JPEG},
                      ChartCase{"bar_bmp", norvisk_bar_chart, kBar, NORVISK_FORMAT_BMP},
                      ChartCase{"xy_jpeg", norvisk_xy_chart, kXY, NORVISK_FORMAT_JPEG},
                      ChartCase{"bar_png", norvisk_bar_chart, kBar, NORVISK_FORMAT_PNG},
                      ChartCase{"xy_png", norvisk_xy_chart, kXY, NORVISK_FORMAT_PNG}),
    [](const ::testing::TestParamInfo<ChartCase>& chart) { return std::string(chart.param.name); });

// The handle's calls one by one: a call that runs out of memory leaves the object usable and
// never holding a graph that is only half made.
TEST(NoMemoryHandleTest, FailedCallsLeaveAUsableObject) {
  norvisk_graph* reference = norvisk_graph_new();
  ASSERT_NE(reference, nullptr);
  unsigned char* out = nullptr;
  size_t size = 0;
  ASSERT_EQ(norvisk_draw_bar_graph(reference, "/dev/null/x.bmp", kBar), NORVISK_NOT_WRITTEN);
  ASSERT_EQ(norvisk_encode(reference, NORVISK_FORMAT_BMP, &out, &size), NORVISK_OK);
  const std::vector<unsigned char> want(out, out + size);
  norvisk_free(out);
  norvisk_graph_free(reference);

  for (long k = 0; k < 400; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    const long before = live_blocks.load();
    norvisk_graph* g = norvisk_graph_new();
    ASSERT_NE(g, nullptr);
    countdown = k;
    const int created = norvisk_create_bar_graph(g);
    countdown = -1;
    if (created == NORVISK_NO_MEMORY) {
      // No graph at all: nothing of a kind fits, and the object can make one now.
      EXPECT_EQ(norvisk_add_bar_bar(g, "a"), NORVISK_WRONG_KIND);
      EXPECT_EQ(norvisk_add_xy_value(g, "a", 1), NORVISK_WRONG_KIND);
      EXPECT_EQ(norvisk_encode(g, NORVISK_FORMAT_BMP, &out, &size), NORVISK_WRONG_KIND);
      ASSERT_EQ(norvisk_create_bar_graph(g), NORVISK_OK);
    } else {
      ASSERT_EQ(created, NORVISK_OK);
    }
    // Adding and encoding fail in turn too, and a repeated call then completes the work.
    countdown = k;
    int status = norvisk_add_bar_legend(g, "Q1");
    countdown = -1;
    if (status == NORVISK_NO_MEMORY) status = norvisk_add_bar_legend(g, "Q1");
    EXPECT_EQ(status, NORVISK_OK);
    for (const char* legend : {"Q2", "Q3"})
      EXPECT_EQ(norvisk_add_bar_legend(g, legend), NORVISK_OK);
    const struct {
      const char* name;
      double values[3];
    } bars[] = {{"North", {10, 20, 30}}, {"South", {15, 25, 35}}, {"East", {5, 10, 5}}};
    for (const auto& bar : bars) {
      EXPECT_EQ(norvisk_add_bar_bar(g, bar.name), NORVISK_OK);
      for (double v : bar.values) EXPECT_EQ(norvisk_add_bar_value(g, v), NORVISK_OK);
    }
    countdown = k;
    status = norvisk_encode(g, NORVISK_FORMAT_BMP, &out, &size);
    countdown = -1;
    if (status == NORVISK_NO_MEMORY) {
      EXPECT_EQ(out, nullptr);
      status = norvisk_encode(g, NORVISK_FORMAT_BMP, &out, &size);
    }
    ASSERT_EQ(status, NORVISK_OK);
    EXPECT_TRUE(std::vector<unsigned char>(out, out + size) == want);
    norvisk_free(out);
    norvisk_graph_free(g);
    EXPECT_EQ(live_blocks.load(), before) << "blocks left behind";
  }
}

}  // namespace
