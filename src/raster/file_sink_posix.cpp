// FileSink through stdio, with the signals a write can raise held back.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <initializer_list>

#include "raster/file_sink.h"

namespace norvisk {

namespace {

// A write past the file-size limit raises SIGXFSZ, one into a pipe without reader SIGPIPE; by
// default either ends the process. A library must not end its host: both are held back on this
// thread while the file is written, and one that the write raised is taken back afterwards, so
// that the write just fails (EFBIG, EPIPE).
class HeldSignals {
 public:
  HeldSignals() {
    sigemptyset(&held_);
    sigaddset(&held_, SIGPIPE);
    sigaddset(&held_, SIGXFSZ);
    blocked_ = pthread_sigmask(SIG_BLOCK, &held_, &before_) == 0;
    if (blocked_ && sigpending(&pendingBefore_) != 0) sigemptyset(&pendingBefore_);
  }
  ~HeldSignals() {
    if (!blocked_) return;
    const int savedErrno = errno;
    sigset_t pending;
    if (sigpending(&pending) == 0) {
      for (int sig : {SIGPIPE, SIGXFSZ}) {
        // Only what this write raised: a signal the caller had pending or blocked is theirs.
        if (!sigismember(&pending, sig) || sigismember(&pendingBefore_, sig) ||
            sigismember(&before_, sig)) {
          continue;
        }
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        const timespec now{0, 0};
        sigtimedwait(&one, nullptr, &now);
      }
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    errno = savedErrno;
  }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t held_;
  sigset_t before_;
  sigset_t pendingBefore_;
  bool blocked_ = false;
};

}  // namespace

FileSink::~FileSink() {
  if (file_ != nullptr) Close();
}

bool FileSink::Open(const char* fileName) {
  if (fileName == nullptr || file_ != nullptr) return false;
  // Binary mode, so that no byte is ever translated.
  file_ = std::fopen(fileName, "wb");
  name_ = fileName;
  failed_ = false;
  struct stat info;
  ordinary_ = file_ != nullptr && fstat(fileno(static_cast<std::FILE*>(file_)), &info) == 0 &&
              S_ISREG(info.st_mode);
  return file_ != nullptr;
}

bool FileSink::WriteTo(void* context, const void* data, std::size_t size) {
  auto* self = static_cast<FileSink*>(context);
  if (self->file_ == nullptr || self->failed_) return false;
  HeldSignals held;
  if (std::fwrite(data, 1, size, static_cast<std::FILE*>(self->file_)) != size)
    self->failed_ = true;
  return !self->failed_;
}

bool FileSink::Close() {
  if (file_ == nullptr) return false;
  HeldSignals held;
  // A full disk often shows only when the buffer is flushed on close.
  const bool closed = std::fclose(static_cast<std::FILE*>(file_)) == 0;
  file_ = nullptr;
  if (closed && !failed_) return true;
  if (ordinary_) {
    const int savedErrno = errno;
    std::remove(name_);
    errno = savedErrno;
  }
  return false;
}

void FileSink::Discard() {
  failed_ = true;
  Close();
}

}  // namespace norvisk
