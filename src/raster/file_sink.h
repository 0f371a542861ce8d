// A file as an image sink, through the platform's own file functions.
#pragma once

#include "raster/image_sink.h"

namespace norvisk {

// Creates (or replaces) one file and takes a picture's bytes into it. On Windows through
// CreateFileA / WriteFile / CloseHandle, elsewhere through stdio in binary mode. A write that
// fails, or a close that fails, makes the whole file count as not written, and a file not written
// is removed when it is an ordinary file (never a device, a pipe or the like): a part of a
// picture is no picture. The name given to Open must stay valid until the file is closed or
// discarded.
class FileSink {
 public:
  FileSink() = default;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink();  // closes a file still open; its outcome is then lost

  // False when the file cannot be created; nothing is then made.
  bool Open(const char* fileName);
  ImageSink sink() { return ImageSink{&FileSink::WriteTo, this}; }
  // True when the file was open, every write was whole and closing succeeded; else the file is
  // removed.
  bool Close();
  // Closes and removes the file: for a picture whose encoding stopped part way.
  void Discard();

 private:
  static bool WriteTo(void* context, const void* data, std::size_t size);

  void* file_ = nullptr;  // the platform's file: a FILE*, or a HANDLE
  const char* name_ = nullptr;
  bool ordinary_ = false;  // a file on a disk, which may be removed
  bool failed_ = false;
};

}  // namespace norvisk
