// bench_clock.h - the benchmark's clock: the performance counter in
// nanoseconds, computed as the library's GetTimeNS does, so readings taken
// in either process, and by either clock, are comparable.
#ifndef TRANSPORT_BENCH_BENCH_CLOCK_H
#define TRANSPORT_BENCH_BENCH_CLOCK_H

#include <windows.h>

#include <cstdint>

namespace transport_bench {

inline uint64_t NowNs() {
  static const double frequency = [] {
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return static_cast<double>(value.QuadPart);
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(static_cast<double>(counter.QuadPart) * 1e9 / frequency);
}

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_BENCH_CLOCK_H
