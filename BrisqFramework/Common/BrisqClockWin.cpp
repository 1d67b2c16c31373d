#include <windows.h>

#include <atomic>

#include "BrisqFramework/Common/BrisqClock.h"

namespace BrisqFramework {
namespace {

// 0 until the first call stores the counter frequency. Concurrent first calls
// store the same value, so relaxed ordering is enough.
std::atomic<int64_t> g_frequency{0};

}  // namespace

uint64_t GetTimeNS() {
  int64_t frequency = g_frequency.load(std::memory_order_relaxed);
  if (frequency == 0) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    frequency = f.QuadPart;
    g_frequency.store(frequency, std::memory_order_relaxed);
  }
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(static_cast<double>(counter.QuadPart) * 1e9 /
                               static_cast<double>(frequency));
}

}  // namespace BrisqFramework
