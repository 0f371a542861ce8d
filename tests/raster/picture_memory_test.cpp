// Kept picture memory on one thread: which block serves which picture, and how much is kept.
#include "raster/picture_memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "raster/memory_sink.h"
#include "support/limited_child.h"

namespace norvisk {
namespace {

class PictureMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { ReleaseKeptPictureMemory(); }
  void TearDown() override { ReleaseKeptPictureMemory(); }
};

TEST_F(PictureMemoryTest, ABlockGivenBackServesTheNextPictureItFitsAndNoLarger) {
  const PictureBlock first = TakePictureMemory(300000);
  ASSERT_NE(first.data, nullptr);
  ASSERT_GE(first.capacity, 300000u);
  std::memset(first.data, 0xAB, first.capacity);  // all of it is the caller's
  GivePictureMemory(first.data);
  EXPECT_EQ(PictureMemoryKept().blocks, 1);

  const PictureBlock again = TakePictureMemory(200000);
  EXPECT_EQ(again.data, first.data);
  EXPECT_GE(again.capacity, first.capacity);
  EXPECT_EQ(PictureMemoryKept().blocks, 0);
  // Too small for a larger picture: that one is new, and the small block stays kept.
  GivePictureMemory(again.data);
  const PictureBlock larger = TakePictureMemory(again.capacity + 1);
  ASSERT_NE(larger.data, nullptr);
  EXPECT_NE(larger.data, first.data);
  EXPECT_EQ(PictureMemoryKept().blocks, 1);
  GivePictureMemory(larger.data);
  GivePictureMemory(nullptr);
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
}

TEST_F(PictureMemoryTest, TheSmallestBlockThatFitsIsTaken) {
  const PictureBlock large = TakePictureMemory(1 << 20);
  const PictureBlock small = TakePictureMemory(200000);
  ASSERT_NE(large.data, nullptr);
  ASSERT_NE(small.data, nullptr);
  GivePictureMemory(large.data);
  GivePictureMemory(small.data);
  EXPECT_EQ(TakePictureMemory(150000).data, small.data);
  EXPECT_EQ(TakePictureMemory(150000).data, large.data);
  GivePictureMemory(small.data);
  GivePictureMemory(large.data);
}

TEST_F(PictureMemoryTest, AThreadKeepsTwoBlocksTheLargestAndNoneOverTheLimit) {
  std::vector<PictureBlock> blocks;
  for (std::size_t bytes : {100000u, 700000u, 300000u, 2000000u, 150000u}) {
    blocks.push_back(TakePictureMemory(bytes));
    ASSERT_NE(blocks.back().data, nullptr);
  }
  for (const PictureBlock& block : blocks) GivePictureMemory(block.data);
  // Only this thread takes and gives: its share is two blocks, the ones that serve the most.
  const KeptPictureMemory kept = PictureMemoryKept();
  EXPECT_EQ(kept.blocks, 2);
  EXPECT_GE(kept.bytes, blocks[1].capacity + blocks[3].capacity);
  EXPECT_EQ(TakePictureMemory(100).data, blocks[1].data);
  EXPECT_EQ(TakePictureMemory(100).data, blocks[3].data);
  GivePictureMemory(blocks[1].data);
  GivePictureMemory(blocks[3].data);

  // A block over the limit goes back to the system at once.
  const PictureBlock huge = TakePictureMemory(kLargestKeptBlock + 1);
  ASSERT_NE(huge.data, nullptr);
  GivePictureMemory(huge.data);
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
  EXPECT_LT(PictureMemoryKept().bytes, kLargestKeptBlock);
}

// A picture in memory takes a kept block and grows into a larger one when it must, its bytes
// carried over; the block it leaves is kept.
TEST_F(PictureMemoryTest, APictureInMemoryTakesKeptBlocksAndGivesTheSmallerBack) {
  GivePictureMemory(TakePictureMemory(100000).data);
  const PictureBlock kept = TakePictureMemory(100000);  // its whole capacity, as it is kept
  ASSERT_NE(kept.data, nullptr);
  GivePictureMemory(kept.data);
  std::vector<unsigned char> piece(kept.capacity);
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<unsigned char>(i * 7);

  MemorySink memory;
  ASSERT_TRUE(memory.sink().Write(piece.data(), 1000));
  EXPECT_EQ(memory.data(), kept.data);
  ASSERT_TRUE(memory.sink().Write(piece.data() + 1000, piece.size() - 1000));
  EXPECT_EQ(memory.data(), kept.data);  // exactly full
  ASSERT_TRUE(memory.sink().Write("x", 1));
  EXPECT_NE(memory.data(), kept.data);
  ASSERT_EQ(memory.size(), piece.size() + 1);
  EXPECT_EQ(std::memcmp(memory.data(), piece.data(), piece.size()), 0);
  EXPECT_EQ(memory.data()[piece.size()], 'x');
  EXPECT_EQ(PictureMemoryKept().blocks, 1);

  std::size_t size = 0;
  unsigned char* picture = memory.Release(&size);
  GivePictureMemory(picture);
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
  // A sink given up on gives its block back too.
  {
    MemorySink dropped;
    ASSERT_TRUE(dropped.sink().Write(piece.data(), 10));
    EXPECT_EQ(PictureMemoryKept().blocks, 1);
  }
  EXPECT_EQ(PictureMemoryKept().blocks, 2);
}

// A process forked while another thread takes and gives blocks (as a host that starts a program
// while it draws): the child takes and gives blocks too, rather than waiting for good on a list
// that thread had in hand when the process was copied.
TEST_F(PictureMemoryTest, AForkedChildTakesMemoryWhileAnotherThreadDrew) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's own allocator may be held by the other thread when the process is copied.
  GTEST_SKIP() << "malloc after fork of a process with threads waits under AddressSanitizer";
#endif
  constexpr int kForks = 100;
  std::atomic<bool> stop{false};
  std::thread drawer([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop.load() && std::chrono::steady_clock::now() < deadline)
      GivePictureMemory(TakePictureMemory(100000).data);
  });
  int stuck = 0, failed = 0;
  for (int n = 0; n < kForks && stuck == 0; ++n) {
    const int code = norvisk_test::InChild(
        [] {
          alarm(5);
          return true;
        },
        [] {
          const PictureBlock block = TakePictureMemory(100000);
          GivePictureMemory(block.data);
          return block.data != nullptr ? 0 : 1;
        });
    if (code == norvisk_test::kChildSignal + SIGALRM) ++stuck;
    if (code != 0) ++failed;
  }
  stop.store(true);
  drawer.join();
  EXPECT_EQ(stuck, 0) << "a child waited for a lock no thread of its own held";
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace norvisk
