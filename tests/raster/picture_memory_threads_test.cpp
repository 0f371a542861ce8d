// Kept picture memory across threads: a block given back on another thread than the one that
// took it, a thread's share going back when it ends, and many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "raster/picture_memory.h"

namespace norvisk {
namespace {

class PictureMemoryThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    // This thread has a share of its own from here on.
    GivePictureMemory(TakePictureMemory(1).data);
    ReleaseKeptPictureMemory();
  }
  void TearDown() override { ReleaseKeptPictureMemory(); }
};

TEST_F(PictureMemoryThreads, ABlockGivenBackOnAnotherThreadServesTheNextPicture) {
  const PictureBlock block = TakePictureMemory(500000);
  ASSERT_NE(block.data, nullptr);
  std::thread([&] { GivePictureMemory(block.data); }).join();
  // Kept after the thread that gave it back has ended: it fits this thread's share.
  EXPECT_EQ(PictureMemoryKept().blocks, 1);
  EXPECT_EQ(TakePictureMemory(400000).data, block.data);
  GivePictureMemory(block.data);
}

TEST_F(PictureMemoryThreads, AThreadThatEndsTakesItsShareBack) {
  std::atomic<int> step{0};
  auto waitFor = [&](int value) {
    for (int spins = 0; step.load() < value && spins < 10000000; ++spins) std::this_thread::yield();
  };
  std::thread other([&] {
    const PictureBlock a = TakePictureMemory(300000);
    const PictureBlock b = TakePictureMemory(400000);
    GivePictureMemory(a.data);
    GivePictureMemory(b.data);
    step.store(1);
    waitFor(2);
  });
  waitFor(1);
  const PictureBlock c = TakePictureMemory(700000);
  const PictureBlock d = TakePictureMemory(800000);
  ASSERT_NE(c.data, nullptr);
  ASSERT_NE(d.data, nullptr);
  GivePictureMemory(c.data);
  GivePictureMemory(d.data);
  // Two threads live: each has a share of two blocks.
  EXPECT_EQ(PictureMemoryKept().blocks, 4);
  step.store(2);
  other.join();
  // This thread's share is left: the two blocks that serve the most.
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
  const PictureBlock first = TakePictureMemory(1);
  const PictureBlock second = TakePictureMemory(1);
  EXPECT_TRUE((first.data == c.data && second.data == d.data) ||
              (first.data == d.data && second.data == c.data));
  GivePictureMemory(first.data);
  GivePictureMemory(second.data);
}

// Pictures still out when the thread that drew them ends are given back later on another
// thread, as a host frees what a finished worker drew: kept within that thread's share.
TEST_F(PictureMemoryThreads, BlocksOutWhenTheirThreadEndsAreGivenBackLater) {
  PictureBlock out[3];
  std::thread([&] {
    for (PictureBlock& block : out) {
      block = TakePictureMemory(300000);
      if (block.data != nullptr) std::memset(block.data, 0x5A, block.capacity);
    }
  }).join();
  for (const PictureBlock& block : out) ASSERT_NE(block.data, nullptr);
  EXPECT_EQ(PictureMemoryKept().blocks, 0);
  for (const PictureBlock& block : out) GivePictureMemory(block.data);
  // Only this thread is left: its share of two is kept, the third went back to the system.
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
  const PictureBlock again = TakePictureMemory(300000);
  EXPECT_TRUE(again.data == out[0].data || again.data == out[1].data || again.data == out[2].data);
  GivePictureMemory(again.data);
}

// Threads drawing and threads freeing what the others drew, as a service's workers and its
// connections do: every block holds what its taker wrote until it is given back, and what is
// kept once they have ended is this thread's share.
TEST_F(PictureMemoryThreads, ManyThreadsTakeAndGiveBackAtOnce) {
  constexpr int kTakers = 3;
  constexpr int kRounds = 300;
  std::mutex lock;
  std::vector<PictureBlock> handedOver;
  std::atomic<int> takersDone{0};
  std::atomic<int> damaged{0};
  auto check = [&](const PictureBlock& block, unsigned char mark) {
    const auto* bytes = static_cast<const unsigned char*>(block.data);
    if (bytes[0] != mark || bytes[block.capacity - 1] != mark) damaged.fetch_add(1);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kTakers; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const std::size_t bytes = 50000 + static_cast<std::size_t>((round * 7 + t) % 5) * 200000;
        const PictureBlock block = TakePictureMemory(bytes);
        if (block.data == nullptr) continue;
        const auto mark = static_cast<unsigned char>(t * 50 + round % 50);
        std::memset(block.data, mark, block.capacity);
        std::this_thread::yield();
        check(block, mark);
        if (round % 2 == 0) {
          GivePictureMemory(block.data);
        } else {
          std::lock_guard<std::mutex> guard(lock);
          handedOver.push_back(block);
        }
      }
      takersDone.fetch_add(1);
    });
  }
  threads.emplace_back([&] {
    for (;;) {
      std::vector<PictureBlock> mine;
      {
        std::lock_guard<std::mutex> guard(lock);
        mine.swap(handedOver);
      }
      for (const PictureBlock& block : mine) GivePictureMemory(block.data);
      if (mine.empty() && takersDone.load() == kTakers) {
        std::lock_guard<std::mutex> guard(lock);
        if (handedOver.empty()) break;
      }
      std::this_thread::yield();
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(damaged.load(), 0);
  const KeptPictureMemory kept = PictureMemoryKept();
  EXPECT_LE(kept.blocks, 2);
  EXPECT_LE(kept.bytes, 2 * kLargestKeptBlock);
}

}  // namespace
}  // namespace norvisk
