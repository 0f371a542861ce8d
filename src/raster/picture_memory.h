// Memory for pictures (a surface's pixels, an encoded picture's bytes), kept for reuse: a chart
// drawn at a size drawn before takes pages it already had, rather than new ones from the system
// that must be faulted in and zeroed. Blocks are plain malloc blocks, whoever ends up with them.
//
//   PictureBlock block = TakePictureMemory(bytes);  // block.capacity >= bytes, or data null
//   ...
//   GivePictureMemory(block.data);                  // kept for the next picture, or freed
//
// Bounded: at most two blocks (a surface and a picture) for each live thread that took or gave
// one, none above kLargestKeptBlock; a thread's share goes back to the system when it ends. A
// block may be given back on another thread than the one that took it. On Windows, where the
// module can be unloaded while the host's threads live on, nothing is kept.
#pragma once

#include <cstddef>

namespace norvisk {

struct PictureBlock {
  void* data = nullptr;  // null when memory ran out
  std::size_t capacity = 0;
};

// Larger pictures get memory of their own: beside drawing and encoding them, their pages cost
// little, and a thread does not keep its peak.
constexpr std::size_t kLargestKeptBlock = 8u << 20;

// A kept block of at least `bytes` (the smallest there is), else a new one from malloc. Its
// contents are whatever was there.
PictureBlock TakePictureMemory(std::size_t bytes);
// Takes back a block from malloc (null is allowed): kept for reuse, or freed.
void GivePictureMemory(void* data);

// What is kept now, in blocks and bytes.
struct KeptPictureMemory {
  int blocks = 0;
  std::size_t bytes = 0;
};
KeptPictureMemory PictureMemoryKept();
// Frees every kept block.
void ReleaseKeptPictureMemory();

}  // namespace norvisk
