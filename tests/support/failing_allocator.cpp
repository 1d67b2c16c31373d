#include "tests/support/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread: allocations left until the failing one (0 = disarmed), and
// whether it fired. Plain values, so reading them allocates nothing.
thread_local int t_countdown = 0;
thread_local bool t_failed = false;

void* Allocate(std::size_t size) {
  if (t_countdown > 0 && --t_countdown == 0) {
    t_failed = true;
    throw std::bad_alloc();
  }
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace test_support {

void FailNthAllocation(int n) {
  t_countdown = n > 0 ? n : 0;
  t_failed = false;
}

bool AllocationFailed() { return t_failed; }

}  // namespace test_support

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
