// The render pool's memory budget with its workers running: what fits is drawn, what does not
// waits for room and is drawn once a picture is let go, what never finds room in time or could
// never fit is refused. Built under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "serve/render_pool.h"

namespace norvisk::serve {
namespace {

using namespace std::chrono_literals;

struct Job : RenderJob {
  explicit Job(int side) {
    chart.route = Route::BarBmp;
    chart.width = chart.height = side;
    chart.data = "(a;b)(x;1;2)";
  }
  bool Abandoned() const override { return false; }
};

// The jobs the workers hand back, in order, waited for by the test.
class Finished {
 public:
  void Add(RenderJob* job) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.push_back(job);
    changed_.notify_all();
  }
  // Waits until `n` jobs are back (at most `limit`); the jobs back by then.
  std::vector<RenderJob*> Wait(std::size_t n, std::chrono::milliseconds limit = 10s) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return done_.size() >= n; });
    return done_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RenderJob*> done_;
};

TEST(RenderPoolBudget, WhatDoesNotFitWaitsForRoomThenIsDrawnOrRefused) {
  Job first(100), second(100), third(100), never(1000);
  const std::size_t one = RenderPool::PictureMemory(first.chart);
  ASSERT_GT(RenderPool::PictureMemory(never.chart), 2 * one);
  {  // The first drawing of a process loads the fonts: not in the time measured below.
    Job warm(10);
    ASSERT_EQ(Render(warm.chart, &warm.bytes, &warm.size), RenderResult::Ok);
  }
  Metrics metrics(2);
  Finished finished;
  // Room for one small picture being drawn and half of another: once drawn, a picture holds
  // only its encoded bytes (about half), and the next one fits beside it.
  RenderPool pool(2, 8, one + one / 2, 20s, &metrics, [&](RenderJob* j) { finished.Add(j); });
  ASSERT_TRUE(pool.Submit(&first));
  ASSERT_TRUE(pool.Submit(&second));
  ASSERT_TRUE(pool.Submit(&third));
  ASSERT_TRUE(pool.Submit(&never));
  // The first is drawn, then the second in the room the first's drawing left; the one over
  // the whole budget is refused at once.
  std::vector<RenderJob*> back = finished.Wait(3);
  ASSERT_EQ(back.size(), 3u);
  for (RenderJob* j : back) {
    EXPECT_TRUE(j->drawn);
    if (j == &never) {
      EXPECT_TRUE(j->overBudget);
      EXPECT_EQ(j->result, RenderResult::NoMemory);
    } else {
      EXPECT_NE(j, &third) << "drawn without room";
      EXPECT_FALSE(j->overBudget);
      EXPECT_EQ(j->result, RenderResult::Ok);
      EXPECT_GT(j->size, 0u);
    }
  }
  // Two pictures held: no room for the third until one is let go.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(finished.Wait(4, 0ms).size(), 3u) << "the third was drawn without room";
  first.ReleasePicture();
  back = finished.Wait(4);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[3], &third);
  EXPECT_TRUE(third.drawn);
  EXPECT_FALSE(third.overBudget);
  EXPECT_EQ(third.result, RenderResult::Ok);
  EXPECT_TRUE(pool.Stop().empty());
  EXPECT_NE(metrics.Text().find("\nnorvisk_over_budget_total 1\n"), std::string::npos);
  second.ReleasePicture();
  third.ReleasePicture();
}

TEST(RenderPoolBudget, OneThatFindsNoRoomInTimeIsRefused) {
  Job first(100), second(100), late(100);
  const std::size_t one = RenderPool::PictureMemory(first.chart);
  Metrics metrics(2);
  Finished finished;
  RenderPool pool(2, 8, one + one / 2, 500ms, &metrics, [&](RenderJob* j) { finished.Add(j); });
  ASSERT_TRUE(pool.Submit(&first));
  ASSERT_TRUE(pool.Submit(&second));
  ASSERT_EQ(finished.Wait(2).size(), 2u);
  EXPECT_EQ(second.result, RenderResult::Ok);
  // Both held: the next waits its time out and is refused, undrawn.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(pool.Submit(&late));
  std::vector<RenderJob*> back = finished.Wait(3);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
  EXPECT_TRUE(late.overBudget);
  EXPECT_EQ(late.result, RenderResult::NoMemory);
  EXPECT_EQ(late.bytes, nullptr);
  EXPECT_TRUE(pool.Stop().empty());
  EXPECT_NE(metrics.Text().find("\nnorvisk_over_budget_total 1\n"), std::string::npos);
  first.ReleasePicture();
  second.ReleasePicture();
}

}  // namespace
}  // namespace norvisk::serve
