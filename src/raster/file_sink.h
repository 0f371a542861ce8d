// A file as an image sink, replaced whole or not at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "raster/image_sink.h"
#include "raster/memory_sink.h"

namespace norvisk {

// Takes a picture's bytes into a file, so that a picture that cannot be written whole never
// costs the file that was there:
// - A file on a disk (or a name where none is yet) is written as a new file in the same folder,
//   which takes the name only once every byte is in it. Through a symbolic link it is the file
//   the link leads to that is replaced, in that file's folder, so the link stays a link. The new
//   file gets the old file's mode (and owner, where the process may give it), or the mode of any
//   newly created file when there was none. On any failure the new file is removed, and the old
//   one, its mode and its links are as they were.
// - Where no file can be made beside it (a folder the process may not write to, holding a file it
//   may write), and for a file with several hard links, which all keep showing the one picture,
//   the picture is kept in memory and written over the old file only once it is complete.
// - Anything else (a device such as /dev/stdout, a pipe) is written in place.
// On Windows through the Windows file functions, elsewhere through the POSIX ones. The name
// given to Open is copied.
class FileSink {
 public:
  FileSink() = default;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink();  // discards a file still open: a picture never closed is not written

  // False when the file cannot be written at all; nothing is then changed. errno (POSIX) or the
  // last error (Windows) says why.
  bool Open(const char* fileName);
  ImageSink sink() { return ImageSink{&FileSink::WriteTo, this}; }
  // Puts the picture in place: true when every piece was taken whole and the file now holds
  // exactly them. On false the old file is as it was (a device keeps what it got); errno says why,
  // or is 0 when no call of the system failed.
  bool Close();
  // Drops the picture, for one whose encoding stopped part way: as a failed Close.
  void Discard();

 private:
  enum class Way : std::uint8_t {
    Closed,
    Replace,  // a new file beside the old one, renamed over it
    Buffer,   // memory, written over the old file at the end
    InPlace,  // written where the name leads, as it is
  };

  static constexpr std::intptr_t kNoFile = -1;  // as INVALID_HANDLE_VALUE

  static bool WriteTo(void* context, const void* data, std::size_t size);
  void Reset();

  Way way_ = Way::Closed;
  std::intptr_t file_ = kNoFile;    // what the pieces go into: a descriptor, or a HANDLE
  std::intptr_t target_ = kNoFile;  // the old file, open for writing, while there is one
  std::string final_;               // the name that takes the picture: a link's target
  std::string temp_;                // the new file beside it
  std::optional<MemorySink> memory_;
  bool failed_ = false;
  int error_ = 0;  // what the system said at the first failure
};

// For the platform files: a name for the new file in `folder` (the platform's `separator`
// between them) that no other save picks: random, different on every call, hidden on POSIX
// systems, and ending in neither ".bmp" nor ".jpg", so that nothing watching for pictures takes
// it for one.
std::string TempFileName(const std::string& folder, char separator);

}  // namespace norvisk
