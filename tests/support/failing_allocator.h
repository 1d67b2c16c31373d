// Test helper: makes one chosen allocation on the calling thread throw
// std::bad_alloc, to prove that no exception crosses a boundary.
//
// Link the object library failing_allocator into a test program: it
// replaces the global operator new of that program. It reaches only code linked into the
// program (the library's objects, the panel's static library): Quenlo.dll
// carries its own operator new from the static C++ runtime.
//
// The count is per thread, so other threads (the library's, GoogleTest's)
// never fire it by chance. To fail an allocation on a library thread, arm it
// from code that runs there (a task, a closure, a callback).
#ifndef TESTS_SUPPORT_FAILING_ALLOCATOR_H
#define TESTS_SUPPORT_FAILING_ALLOCATOR_H

namespace test_support {

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

}  // namespace test_support

#endif  // TESTS_SUPPORT_FAILING_ALLOCATOR_H
