// A file as an image sink, through the platform's own file functions.
#pragma once

#include "raster/image_sink.h"

namespace norvisk {

// Creates (or replaces) one file and takes a picture's bytes into it. On Windows through
// CreateFileA / WriteFile / CloseHandle, elsewhere through stdio in binary mode. A write that
// fails, or a close that fails, makes the whole file count as not written.
class FileSink {
 public:
  FileSink() = default;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink();  // closes a file still open; its outcome is then lost

  // False when the file cannot be created; nothing is then made.
  bool Open(const char* fileName);
  ImageSink sink() { return ImageSink{&FileSink::WriteTo, this}; }
  // True when the file was open, every write was whole and closing succeeded.
  bool Close();

 private:
  static bool WriteTo(void* context, const void* data, std::size_t size);

  void* file_ = nullptr;  // the platform's file: a FILE*, or a HANDLE
  bool failed_ = false;
};

}  // namespace norvisk
