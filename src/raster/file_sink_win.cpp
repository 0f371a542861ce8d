// Whole files through the Windows file functions.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "raster/file_sink.h"

namespace norvisk {

namespace {

// WriteFile takes at most a DWORD of bytes a call; a larger piece goes in several calls.
bool WriteWhole(HANDLE file, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  do {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x80000000u));
    DWORD done = 0;
    if (!WriteFile(file, p, chunk, &done, nullptr) || done != chunk) return false;
    p += chunk;
    size -= chunk;
  } while (size > 0);
  return true;
}

}  // namespace

bool WriteFileParts(const char* fileName, const void* const* parts, const std::size_t* sizes,
                    int count) {
  if (fileName == nullptr || count < 0) return false;
  HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (int k = 0; k < count && written; ++k) written = WriteWhole(file, parts[k], sizes[k]);
  written = CloseHandle(file) != FALSE && written;
  return written;
}

}  // namespace norvisk
