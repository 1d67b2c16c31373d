// The native build's stand-in for the performance counter: a monotonic clock.
#include <chrono>

#include "BrisqFramework/Common/BrisqClock.h"

namespace BrisqFramework {

uint64_t GetTimeNS() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace BrisqFramework
