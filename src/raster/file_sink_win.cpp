// FileSink through the Windows file functions.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "raster/file_sink.h"

namespace norvisk {

FileSink::~FileSink() {
  if (file_ != nullptr) Close();
}

bool FileSink::Open(const char* fileName) {
  if (fileName == nullptr || file_ != nullptr) return false;
  HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  file_ = file;
  name_ = fileName;
  failed_ = false;
  ordinary_ = GetFileType(file) == FILE_TYPE_DISK;
  return true;
}

bool FileSink::WriteTo(void* context, const void* data, std::size_t size) {
  auto* self = static_cast<FileSink*>(context);
  if (self->file_ == nullptr || self->failed_) return false;
  // WriteFile takes at most a DWORD of bytes a call; a larger piece goes in several calls.
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x80000000u));
    DWORD done = 0;
    if (!WriteFile(static_cast<HANDLE>(self->file_), p, chunk, &done, nullptr) || done != chunk) {
      self->failed_ = true;
      return false;
    }
    p += chunk;
    size -= chunk;
  }
  return true;
}

bool FileSink::Close() {
  if (file_ == nullptr) return false;
  const bool closed = CloseHandle(static_cast<HANDLE>(file_)) != FALSE;
  file_ = nullptr;
  if (closed && !failed_) return true;
  if (ordinary_) DeleteFileA(name_);
  return false;
}

void FileSink::Discard() {
  failed_ = true;
  Close();
}

}  // namespace norvisk
