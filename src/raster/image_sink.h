// Where an encoded picture goes: a write function with its context, as small writers take it.
#pragma once

#include <cstddef>

namespace norvisk {

// Receives a picture's bytes in order, piece by piece. `write` returns false when it could not
// keep a piece; the writer then gives up and reports that the picture was not written.
struct ImageSink {
  bool (*write)(void* context, const void* data, std::size_t size) = nullptr;
  void* context = nullptr;

  bool Write(const void* data, std::size_t size) const {
    return write != nullptr && write(context, data, size);
  }
};

// What became of a picture handed to a sink.
enum class ExportResult {
  Written,     // every byte was taken
  NotWritten,  // nothing to write, no surface, a name of no format, or the sink refused
  NoMemory,    // the encoder itself ran out of memory
};

}  // namespace norvisk
