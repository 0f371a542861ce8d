// Kept picture memory on POSIX systems: one list for the process under a lock, so that a picture
// freed on the thread that sent it serves the next chart of the thread that draws.
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <type_traits>

#include "raster/picture_memory.h"

namespace norvisk {

namespace {

constexpr int kBlocksPerThread = 2;  // the surface being drawn and the picture encoded from it
constexpr int kMostBlocks = 64;
// New blocks are made a little larger than asked, so that the surface's block can take its
// bitmap's bytes (a header more) and a picture's the next one's, a little larger.
constexpr std::size_t kGrain = 64 * 1024;

struct Block {
  void* data = nullptr;
  std::size_t capacity = 0;
};

class KeptBlocks {
 public:
  // Removes the smallest block of at least `bytes`; data null when there is none.
  Block Take(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    int best = -1;
    for (int i = 0; i < count_; ++i) {
      if (blocks_[i].capacity >= bytes &&
          (best < 0 || blocks_[i].capacity < blocks_[best].capacity)) {
        best = i;
      }
    }
    if (best < 0) return {};
    return RemoveAt(best);
  }

  // Keeps `block`; when that makes too many, the smallest comes back, to be freed: a large
  // block serves a smaller picture as well, the other way round it would not.
  Block Keep(Block block) {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[count_++] = block;
    return count_ > Limit() ? RemoveAt(Smallest()) : Block{};
  }

  void Join() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++threads_;
  }

  // A thread ended: the blocks beyond the other threads' shares are freed.
  void Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --threads_;
    while (count_ > Limit()) std::free(RemoveAt(Smallest()).data);
  }

  KeptPictureMemory Kept() {
    std::lock_guard<std::mutex> lock(mutex_);
    KeptPictureMemory kept;
    kept.blocks = count_;
    for (int i = 0; i < count_; ++i) kept.bytes += blocks_[i].capacity;
    return kept;
  }

  // Around fork: the lock is held across it, so that the child's copy of the list is whole and
  // its lock free whatever the other threads were doing; only the forking thread lives on there.
  void BeforeFork() { mutex_.lock(); }
  void AfterForkInParent() { mutex_.unlock(); }
  void AfterForkInChild(bool counted) {
    threads_ = counted ? 1 : 0;
    while (count_ > Limit()) std::free(RemoveAt(Smallest()).data);
    mutex_.unlock();
  }

  void ReleaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    while (count_ > 0) std::free(RemoveAt(count_ - 1).data);
  }

 private:
  int Limit() const { return std::min(kMostBlocks, kBlocksPerThread * std::max(threads_, 0)); }

  int Smallest() const {
    int smallest = 0;
    for (int i = 1; i < count_; ++i)
      if (blocks_[i].capacity < blocks_[smallest].capacity) smallest = i;
    return smallest;
  }

  Block RemoveAt(int index) {
    const Block block = blocks_[index];
    std::copy(blocks_ + index + 1, blocks_ + count_, blocks_ + index);
    --count_;
    return block;
  }

  std::mutex mutex_;
  Block blocks_[kMostBlocks + 1];  // one over the limit while a block is kept
  int count_ = 0;
  int threads_ = 0;  // live threads that took or gave a block
};

// Never destroyed: threads that outlive the end of main still give their blocks back to it.
static_assert(std::is_trivially_destructible_v<KeptBlocks>);
constinit KeptBlocks kept;

enum class Share : unsigned char { None, Counted, Ended };
thread_local Share this_thread = Share::None;  // trivial: readable while the thread ends

struct ThreadShare {
  ThreadShare() { kept.Join(); }
  ~ThreadShare() {
    this_thread = Share::Ended;
    kept.Leave();
  }
};

[[maybe_unused]] const int fork_handlers =
    pthread_atfork([] { kept.BeforeFork(); }, [] { kept.AfterForkInParent(); },
                   [] { kept.AfterForkInChild(this_thread == Share::Counted); });

void CountThisThread() {
  if (this_thread != Share::None) return;
  this_thread = Share::Counted;
  // Made once per thread; destroyed as the thread ends, which takes its share back.
  [[maybe_unused]] thread_local ThreadShare share;
}

}  // namespace

PictureBlock TakePictureMemory(std::size_t bytes) {
  CountThisThread();
  if (bytes <= kLargestKeptBlock) {
    const Block block = kept.Take(bytes);
    if (block.data) return PictureBlock{block.data, block.capacity};
  }
  if (bytes == 0) bytes = 1;
  if (bytes <= kLargestKeptBlock) bytes = (bytes + kGrain - 1) / kGrain * kGrain;
  PictureBlock fresh;
  fresh.data = std::malloc(bytes);
  if (fresh.data) fresh.capacity = bytes;
  return fresh;
}

void GivePictureMemory(void* data) {
  if (!data) return;
  const std::size_t capacity = malloc_usable_size(data);
  // Blocks under the grain are not pictures' (norvisk_free also takes the library's small
  // texts): kept, they would only hold a place that a picture's block should have.
  if (capacity > kLargestKeptBlock || capacity < kGrain) {
    std::free(data);
    return;
  }
  CountThisThread();
  std::free(kept.Keep(Block{data, capacity}).data);
}

KeptPictureMemory PictureMemoryKept() { return kept.Kept(); }

void ReleaseKeptPictureMemory() { kept.ReleaseAll(); }

}  // namespace norvisk
