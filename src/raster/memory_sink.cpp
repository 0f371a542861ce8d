// MemorySink: a block that grows by doubling, so that a picture costs few copies; its blocks are
// kept picture memory.
#include "raster/memory_sink.h"

#include <cstdint>
#include <cstring>

#include "raster/picture_memory.h"

namespace norvisk {

namespace {
// A chart's JPEG is a few tens of kilobytes: the first block takes all of it.
constexpr std::size_t kFirstBlock = 64 * 1024;
}  // namespace

MemorySink::~MemorySink() { GivePictureMemory(data_); }

unsigned char* MemorySink::Release(std::size_t* size) {
  unsigned char* data = data_;
  if (size != nullptr) *size = size_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return data;
}

bool MemorySink::WriteTo(void* context, const void* data, std::size_t size) {
  auto* self = static_cast<MemorySink*>(context);
  if (self->outOfMemory_) return false;
  if (size == 0) return true;
  if (size > SIZE_MAX - self->size_) {
    self->outOfMemory_ = true;
    return false;
  }
  const std::size_t needed = self->size_ + size;
  if (needed > self->capacity_) {
    std::size_t capacity = self->capacity_ == 0 ? kFirstBlock : self->capacity_;
    while (capacity < needed && capacity <= SIZE_MAX / 2) capacity *= 2;
    // A single large piece (a bitmap's pixels) gets exactly the room it needs.
    if (capacity < needed || capacity / 2 < needed - self->size_) capacity = needed;
    // A block an earlier picture left, when one is large enough; the smaller one goes back.
    const PictureBlock block = TakePictureMemory(capacity);
    if (block.data == nullptr) {
      self->outOfMemory_ = true;
      return false;
    }
    if (self->size_ > 0) std::memcpy(block.data, self->data_, self->size_);
    GivePictureMemory(self->data_);
    self->data_ = static_cast<unsigned char*>(block.data);
    self->capacity_ = block.capacity;
  }
  std::memcpy(self->data_ + self->size_, data, size);
  self->size_ = needed;
  return true;
}

}  // namespace norvisk
