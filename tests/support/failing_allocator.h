// A failing allocator hook for tests: replaces the program's operator new and delete, counts
// the allocations made while armed, and makes the chosen one fail (std::bad_alloc, or null for
// the nothrow forms), optionally with every one after it, as memory running out does.
//
// It replaces the global operators, so include it in one source file of a test program only.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace norvisk_test {

class FailingAllocator {
 public:
  // From now on allocation number `failAt` (0: the next one) fails; with `sticky` so do all
  // after it, until Disarm.
  static void Arm(long failAt, bool sticky = false) {
    state().seen = 0;
    state().failed = 0;
    state().sticky = sticky;
    state().failAt = failAt;
    state().armed = true;
  }
  // Stops failing; how many allocations were refused since Arm.
  static long Disarm() {
    state().armed = false;
    return state().failed;
  }

  // Whether this allocation is refused (called by the replaced operators).
  static bool Refuse() {
    State& s = state();
    if (!s.armed) return false;
    long index = s.seen++;
    if (index == s.failAt || (s.sticky && index > s.failAt)) {
      ++s.failed;
      return true;
    }
    return false;
  }

 private:
  struct State {
    bool armed = false;
    bool sticky = false;
    long failAt = 0;
    long seen = 0;
    long failed = 0;
  };
  static State& state() {
    static State s;  // trivially constructed: safe before main and from any allocation
    return s;
  }
};

// An armed hook and its disarming, whatever way the scope is left.
class FailingScope {
 public:
  explicit FailingScope(long failAt, bool sticky = false) { FailingAllocator::Arm(failAt, sticky); }
  ~FailingScope() { FailingAllocator::Disarm(); }
  FailingScope(const FailingScope&) = delete;
  FailingScope& operator=(const FailingScope&) = delete;
};

}  // namespace norvisk_test

inline void* norvisk_test_allocate(std::size_t size) {
  if (norvisk_test::FailingAllocator::Refuse()) return nullptr;
  return std::malloc(size ? size : 1);
}

void* operator new(std::size_t size) {
  if (void* p = norvisk_test_allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = norvisk_test_allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return norvisk_test_allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return norvisk_test_allocate(size);
}
// Never inlined: the compiler would otherwise see free() meet a block from operator new.
[[gnu::noinline]] inline void norvisk_test_release(void* p) noexcept { std::free(p); }

void operator delete(void* p) noexcept { norvisk_test_release(p); }
void operator delete[](void* p) noexcept { norvisk_test_release(p); }
void operator delete(void* p, std::size_t) noexcept { norvisk_test_release(p); }
void operator delete[](void* p, std::size_t) noexcept { norvisk_test_release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { norvisk_test_release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { norvisk_test_release(p); }
