// Memory as an image sink: the picture's bytes in one block from malloc, kept picture memory
// when there is some (raster/picture_memory.h).
#pragma once

#include <cstddef>

#include "raster/image_sink.h"

namespace norvisk {

class MemorySink {
 public:
  MemorySink() = default;
  MemorySink(const MemorySink&) = delete;
  MemorySink& operator=(const MemorySink&) = delete;
  ~MemorySink();

  ImageSink sink() { return ImageSink{&MemorySink::WriteTo, this}; }

  // True once a piece could not be kept because memory ran out; the sink then takes no more.
  bool outOfMemory() const { return outOfMemory_; }
  std::size_t size() const { return size_; }
  const unsigned char* data() const { return data_; }
  // Hands the block over, to be released with GivePictureMemory (or free()); the sink is empty
  // afterwards. Null when nothing was written.
  unsigned char* Release(std::size_t* size);

 private:
  static bool WriteTo(void* context, const void* data, std::size_t size);

  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool outOfMemory_ = false;
};

}  // namespace norvisk
