// FileSink: what does not depend on the platform's file functions.
#include "raster/file_sink.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace norvisk {

namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15u;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

}  // namespace

std::string TempFileName(const std::string& folder, char separator) {
  // The time, where this process's code lies (chosen anew for each process) and a count of the
  // names given: two processes, or two threads, meet only by a chance that O_EXCL then catches.
  static std::atomic<std::uint64_t> count{0};
  const auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::uint64_t bits = Mix(now ^ Mix(reinterpret_cast<std::uintptr_t>(&count)) ^
                           Mix(count.fetch_add(1, std::memory_order_relaxed)));
  std::string name = folder + separator + ".norvisk-";
  for (int k = 0; k < 10; ++k, bits /= 36)
    name += "0123456789abcdefghijklmnopqrstuvwxyz"[bits % 36];
  return name + ".part";
}

FileSink::~FileSink() {
  if (way_ != Way::Closed) Discard();
}

void FileSink::Discard() {
  if (way_ == Way::Closed) return;
  failed_ = true;
  Close();
}

void FileSink::Reset() {
  way_ = Way::Closed;
  file_ = target_ = kNoFile;
  final_.clear();
  temp_.clear();
  memory_.reset();
  failed_ = false;
  error_ = 0;
}

}  // namespace norvisk
