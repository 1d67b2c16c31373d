// Test helper: makes one chosen allocation on the calling thread throw
// std::bad_alloc, to prove that no exception crosses a boundary.
//
// Add failing_allocator.cpp to a test program's sources: it replaces the
// global operator new of that program. It reaches only code linked into the
// program (the library's objects, the panel's static library): Quenlo.dll
// carries its own operator new from the static C++ runtime.
//
// The count is per thread, so other threads (the library's, GoogleTest's)
// never fire it by chance. To fail an allocation on a library thread, arm it
// from code that runs there (a task, a closure, a callback).
#ifndef TESTS_COMMON_FAILING_ALLOCATOR_H
#define TESTS_COMMON_FAILING_ALLOCATOR_H

namespace brisq_test {

// The n-th allocation through operator new on this thread from now on
// (1 = the next) throws std::bad_alloc; 0 disarms. Later ones succeed.
void FailNthAllocation(int n);

// True once the armed allocation has thrown (cleared by FailNthAllocation).
bool AllocationFailed();

// Arms on construction, disarms when the scope ends.
class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(int n) { FailNthAllocation(n); }
  ~ScopedAllocationFailure() { FailNthAllocation(0); }
  ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
  ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};

}  // namespace brisq_test

#endif  // TESTS_COMMON_FAILING_ALLOCATOR_H
