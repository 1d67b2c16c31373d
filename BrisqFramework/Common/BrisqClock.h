// BrisqClock.h - the library's nanosecond clock.
#ifndef BRISQFRAMEWORK_COMMON_BRISQCLOCK_H
#define BRISQFRAMEWORK_COMMON_BRISQCLOCK_H

#include <cstdint>

namespace BrisqFramework {

// Nanoseconds of a monotonic clock. On Windows: the performance counter
// times 1e9 in double precision, divided by the counter frequency (queried on
// the first call and kept for the process), truncated. Every time stamp of the
// library, of media packets and of the log flood filter uses this clock.
// Any thread.
uint64_t GetTimeNS();

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQCLOCK_H
