// FileSink through the POSIX file functions, with the signals a write can raise held back.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <string>

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

// As many as the kernel itself follows before it says ELOOP.
constexpr int kMaxLinks = 40;
constexpr int kTempTries = 100;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows `path` through symbolic links to the name that is finally a file, or nothing yet.
// False (errno set) on a loop or when the names cannot be read.
bool FollowLinks(std::string* path, struct stat* info, bool* exists) {
  for (int hops = 0;; ++hops) {
    if (lstat(path->c_str(), info) != 0) {
      *exists = false;
      return errno == ENOENT;
    }
    *exists = true;
    if (!S_ISLNK(info->st_mode)) return true;
    if (hops == kMaxLinks) {
      errno = ELOOP;
      return false;
    }
    // The size lstat gives may be 0 (links of /proc): grow until the text fits.
    std::string target(info->st_size > 0 ? static_cast<std::size_t>(info->st_size) + 1 : 256, '\0');
    for (;;) {
      const ssize_t n = readlink(path->c_str(), target.data(), target.size());
      if (n < 0) return false;
      if (static_cast<std::size_t>(n) < target.size()) {
        target.resize(static_cast<std::size_t>(n));
        break;
      }
      target.resize(target.size() * 2);
    }
    // A relative target is relative to the link's own folder.
    *path = !target.empty() && target[0] == '/' ? target : FolderOf(*path) + "/" + target;
  }
}

// A new file of a name of its own in `folder`, created with `mode` (less the umask), its name in
// `name`; -1 (errno set, `name` empty) when none can be made.
int MakeTemp(const std::string& folder, mode_t mode, std::string* name) {
  for (int attempt = 0; attempt < kTempTries; ++attempt) {
    *name = TempFileName(folder, '/');
    const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  // The name is not ours: nothing of that name may be removed.
  const int error = errno;
  name->clear();
  errno = error;
  return -1;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes `size` bytes over the old file open as `fd`. What can be found out before a byte
// changes is: the file-size limit, and room on the disk, taken ahead where the file system
// allows; after that only a failing disk stops it part way.
bool Overwrite(int fd, const unsigned char* data, std::size_t size) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    errno = EFBIG;
    return false;
  }
  if (size > 0) {
    // Reserves the blocks without changing a byte; not every file system can.
    const int e = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (e != 0 && e != EOPNOTSUPP && e != ENOSYS && e != EINVAL) {
      errno = e;
      return false;
    }
  }
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// The whole file `name` into `into`.
bool ReadWhole(const std::string& name, MemorySink* into) {
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char chunk[1 << 16];
  bool whole = true;
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || !into->sink().Write(chunk, static_cast<std::size_t>(n))) {
      if (n > 0) errno = ENOMEM;
      whole = false;
      break;
    }
  }
  const int savedErrno = errno;
  close(fd);
  errno = savedErrno;
  return whole;
}

// A name Open can take, with a sink that is closed; else errno says why.
bool UsableName(const char* fileName, bool closed) {
  if (fileName == nullptr || !closed) {
    errno = EINVAL;
    return false;
  }
  if (*fileName == '\0') {
    errno = ENOENT;
    return false;
  }
  return true;
}

// The new file `fd` takes the owner and mode of the one it replaces. Owner first: a change of
// owner clears the set-id bits that the mode then gives back. Either may be refused without
// harm: only a privileged process may give a file away (the new one stays the writer's), and a
// file system without modes (FAT) gives every file the same one.
void TakeOwnerAndMode(int fd, const struct stat& old) {
  if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
      fchown(fd, old.st_uid, old.st_gid) != 0) {
    errno = 0;
  }
  if (fchmod(fd, old.st_mode & 07777) != 0) errno = 0;
}

}  // namespace

bool FileSink::Open(const char* fileName) {
  if (!UsableName(fileName, way_ == Way::Closed)) return false;
  const int callerErrno = errno;
  // Nothing made: what was opened is let go, and errno says why.
  auto refuse = [this](int error) {
    if (target_ >= 0) close(static_cast<int>(target_));
    if (file_ >= 0) close(static_cast<int>(file_));
    if (!temp_.empty()) unlink(temp_.c_str());
    Reset();
    errno = error;
    return false;
  };
  auto opened = [&](Way way, int fd) {
    way_ = way;
    file_ = fd;
    errno = callerErrno;
    return true;
  };
  try {
    Reset();
    final_ = fileName;
    struct stat info;
    // What the name leads to decides first: /dev/stdout is a link to a pipe's /proc entry, whose
    // own link text names no file.
    bool exists = stat(fileName, &info) == 0;
    if (!(exists && !S_ISREG(info.st_mode)) && !FollowLinks(&final_, &info, &exists))
      return refuse(errno);
    if (exists && !S_ISREG(info.st_mode)) {
      // A device, a pipe or a socket takes the bytes where it is; a folder refuses them.
      const int fd = open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
      return fd < 0 ? refuse(errno) : opened(Way::InPlace, fd);
    }
    if (exists) {
      // The old file must be one this process may write, as when it was written in place. Held
      // open to write over it should it come to that.
      const int fd = open(final_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
      if (fd < 0) return refuse(errno);
      target_ = fd;
      if (fstat(fd, &info) != 0) return refuse(errno);
    }
    // A file of several hard links is written over, so that all its names show one picture. A
    // new file beside the old one is readable by nobody else until it has the old one's mode.
    int fd = -1;
    if (!exists || info.st_nlink <= 1)
      fd = MakeTemp(FolderOf(final_), exists ? 0600 : 0666, &temp_);
    if (fd < 0) {
      if (!exists) return refuse(errno);
      // No file can be made beside the old one: the picture waits in memory.
      memory_.emplace();
      return opened(Way::Buffer, -1);
    }
    if (exists) TakeOwnerAndMode(fd, info);
    return opened(Way::Replace, fd);
  } catch (const std::bad_alloc&) {
    return refuse(ENOMEM);
  }
}

bool FileSink::WriteTo(void* context, const void* data, std::size_t size) {
  auto* self = static_cast<FileSink*>(context);
  if (self->way_ == Way::Closed || self->failed_) return false;
  if (size == 0) return true;
  if (self->way_ == Way::Buffer) {
    if (!self->memory_->sink().Write(data, size)) {
      self->failed_ = true;
      self->error_ = ENOMEM;
    }
    return !self->failed_;
  }
  HeldSignals held;
  if (!WriteAll(static_cast<int>(self->file_), data, size)) {
    self->failed_ = true;
    self->error_ = errno != 0 ? errno : EIO;
  }
  return !self->failed_;
}

bool FileSink::Close() {
  if (way_ == Way::Closed) {
    errno = EBADF;
    return false;
  }
  HeldSignals held;
  bool ok = !failed_;
  auto fail = [&] {
    if (ok && error_ == 0) error_ = errno;
    ok = false;
  };
  // Some file systems (NFS) report a failed write only when the file is closed.
  if (file_ >= 0 && close(static_cast<int>(file_)) != 0) fail();
  file_ = -1;
  switch (way_) {
    case Way::Replace:
      if (ok && rename(temp_.c_str(), final_.c_str()) != 0) {
        // The old file is a mount point of its own (a file bound into a container): it can only
        // be written over.
        if ((errno == EBUSY || errno == EXDEV) && target_ >= 0) {
          try {
            MemorySink whole;
            if (!ReadWhole(temp_, &whole) ||
                !Overwrite(static_cast<int>(target_), whole.data(), whole.size()))
              fail();
          } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            fail();
          }
        } else {
          fail();
        }
        unlink(temp_.c_str());
      } else if (!ok) {
        unlink(temp_.c_str());
      }
      break;
    case Way::Buffer:
      if (ok && memory_->outOfMemory()) {
        errno = ENOMEM;
        fail();
      } else if (ok && !Overwrite(static_cast<int>(target_), memory_->data(), memory_->size())) {
        fail();
      }
      break;
    case Way::InPlace:
    case Way::Closed: break;
  }
  if (target_ >= 0 && close(static_cast<int>(target_)) != 0 && way_ == Way::Buffer) fail();
  target_ = -1;
  const int error = ok ? 0 : error_;
  Reset();
  if (!ok) errno = error;
  return ok;
}

}  // namespace norvisk
