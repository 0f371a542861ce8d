// FileSink through the Windows file functions.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "raster/file_sink.h"

namespace norvisk {

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) return ".";
  // "C:\x.bmp" and "C:x.bmp" keep their drive's root or current folder.
  if (path[cut] == ':' || (cut == 2 && path[1] == ':') || cut == 0) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

constexpr int kTempTries = 100;

// The name the file `file` has in the end: through a symbolic link, the name of the file the
// link leads to. Without the "\\?\" before it, which not every function takes.
void FinalName(HANDLE file, std::string* name) {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof buffer) return;
  std::string final(buffer, n);
  if (final.rfind("\\\\?\\UNC\\", 0) == 0)
    final = "\\\\" + final.substr(8);
  else if (final.rfind("\\\\?\\", 0) == 0)
    final = final.substr(4);
  *name = final;
}

// A new file of a name of its own in `folder`; INVALID_HANDLE_VALUE (the last error set, `name`
// empty) when none can be made.
HANDLE MakeTemp(const std::string& folder, std::string* name) {
  for (int attempt = 0; attempt < kTempTries; ++attempt) {
    *name = TempFileName(folder, '\\');
    HANDLE file = CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  // The name is not ours: nothing of that name may be removed.
  const DWORD error = GetLastError();
  name->clear();
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  // WriteFile takes at most a DWORD of bytes a call; a larger piece goes in several calls.
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x80000000u));
    DWORD done = 0;
    if (!WriteFile(file, p, chunk, &done, nullptr) || done != chunk) return false;
    p += chunk;
    size -= chunk;
  }
  return true;
}

bool SetLength(HANDLE file, std::uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Writes `size` bytes over the old file. A longer picture first takes its room on the disk, so
// that a full disk stops it before a byte of the old file changes.
bool Overwrite(HANDLE file, const unsigned char* data, std::size_t size) {
  LARGE_INTEGER old;
  if (!GetFileSizeEx(file, &old)) return false;
  if (static_cast<std::uint64_t>(old.QuadPart) < size && !SetLength(file, size)) return false;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, data, size) &&
         SetLength(file, size);
}

}  // namespace

bool FileSink::Open(const char* fileName) {
  if (fileName == nullptr || way_ != Way::Closed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Nothing made: what was opened is let go, and the last error says why.
  auto refuse = [this](DWORD error) {
    if (target_ != kNoFile) CloseHandle(AsHandle(target_));
    if (file_ != kNoFile) CloseHandle(AsHandle(file_));
    if (!temp_.empty()) DeleteFileA(temp_.c_str());
    Reset();
    SetLastError(error);
    return false;
  };
  auto opened = [this](Way way, HANDLE file) {
    way_ = way;
    file_ = FromHandle(file);
    return true;
  };
  try {
    Reset();
    final_ = fileName;
    // The old file, if any, must be one this process may write, as when it was written in
    // place. Windows refuses a read-only file to every user; Wine run by root would not.
    const DWORD attributes = GetFileAttributesA(fileName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return refuse(ERROR_ACCESS_DENIED);
    HANDLE old =
        CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_FILE_NOT_FOUND) return refuse(GetLastError());
    } else if (GetFileType(old) != FILE_TYPE_DISK) {
      // A device or a pipe takes the bytes where it is.
      return opened(Way::InPlace, old);
    } else {
      target_ = FromHandle(old);
      // Through a symbolic link the file it leads to is replaced, in its own folder, so that
      // the link stays a link.
      FinalName(old, &final_);
    }
    // A file of several hard links is written over, so that all its names show one picture.
    BY_HANDLE_FILE_INFORMATION info;
    const bool linked = target_ != kNoFile &&
                        GetFileInformationByHandle(AsHandle(target_), &info) &&
                        info.nNumberOfLinks > 1;
    HANDLE file = linked ? INVALID_HANDLE_VALUE : MakeTemp(FolderOf(final_), &temp_);
    if (file != INVALID_HANDLE_VALUE) return opened(Way::Replace, file);
    if (target_ == kNoFile) return refuse(GetLastError());
    // No file can be made beside the old one: the picture waits in memory.
    memory_.emplace();
    way_ = Way::Buffer;
    return true;
  } catch (const std::bad_alloc&) {
    return refuse(ERROR_NOT_ENOUGH_MEMORY);
  }
}

bool FileSink::WriteTo(void* context, const void* data, std::size_t size) {
  auto* self = static_cast<FileSink*>(context);
  if (self->way_ == Way::Closed || self->failed_) return false;
  if (size == 0) return true;
  const bool taken = self->way_ == Way::Buffer ? self->memory_->sink().Write(data, size)
                                               : WriteAll(AsHandle(self->file_), data, size);
  if (!taken) {
    self->failed_ = true;
    self->error_ = self->way_ == Way::Buffer ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
  }
  return taken;
}

bool FileSink::Close() {
  if (way_ == Way::Closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  bool ok = !failed_;
  auto fail = [&] {
    if (ok && error_ == 0) error_ = static_cast<int>(GetLastError());
    ok = false;
  };
  if (file_ != kNoFile && !CloseHandle(AsHandle(file_))) fail();
  file_ = kNoFile;
  switch (way_) {
    case Way::Replace:
      // The old file must not be held open while it is replaced.
      if (target_ != kNoFile) CloseHandle(AsHandle(target_));
      target_ = kNoFile;
      if (ok && !MoveFileExA(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING)) fail();
      if (!ok) DeleteFileA(temp_.c_str());
      break;
    case Way::Buffer:
      if (ok && memory_->outOfMemory()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        fail();
      } else if (ok && !Overwrite(AsHandle(target_), memory_->data(), memory_->size())) {
        fail();
      }
      break;
    case Way::InPlace:
    case Way::Closed: break;
  }
  if (target_ != kNoFile && !CloseHandle(AsHandle(target_))) fail();
  target_ = kNoFile;
  const int error = ok ? 0 : error_;
  Reset();
  if (!ok) SetLastError(static_cast<DWORD>(error));
  return ok;
}

}  // namespace norvisk
