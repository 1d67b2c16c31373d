// LogEnvironment.h - where a log record gets its process id, thread id,
// local time and flood-filter clock from.
//
// The platform's environment is used unless a test or benchmark installs its
// own, which lets them drive the flood filter's time and get fixed headers.
#ifndef BRISQFRAMEWORK_COMMON_LOGENVIRONMENT_H
#define BRISQFRAMEWORK_COMMON_LOGENVIRONMENT_H

#include <cstdint>

#include "BrisqFramework/Common/LogFormat.h"

namespace BrisqFramework {

struct LogEnvironment {
  uint32_t (*process_id)();
  uint32_t (*thread_id)();
  LogTime (*local_time)();
  int64_t (*now_ns)();  // the library's nanosecond clock (GetTimeNS)
};

// The running platform's providers (Windows: GetCurrentProcessId,
// GetCurrentThreadId, GetLocalTime, GetTimeNS).
const LogEnvironment& PlatformLogEnvironment();

// The environment records use now: the installed one, else the platform's.
const LogEnvironment& CurrentLogEnvironment();

// Installs `environment` for every later record of the process; null goes
// back to the platform's. The object must stay alive while it is installed.
// Meant for tests and benchmarks; install it before records are made.
void SetLogEnvironment(const LogEnvironment* environment);

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_LOGENVIRONMENT_H
