// The providers of log records on the native (non-Windows) build, where only
// the portable logging core runs: tests and benchmarks.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include "BrisqFramework/Common/BrisqClock.h"
#include "BrisqFramework/Common/LogEnvironment.h"

namespace BrisqFramework {
namespace {

uint32_t PosixProcessId() { return static_cast<uint32_t>(::getpid()); }
uint32_t PosixThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

LogTime PosixLocalTime() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const time_t seconds = static_cast<time_t>(ms.count() / 1000);
  struct tm local {};
  ::localtime_r(&seconds, &local);
  LogTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(ms.count() % 1000);
  return t;
}

int64_t PosixNowNs() { return static_cast<int64_t>(GetTimeNS()); }

constexpr LogEnvironment kPosix = {&PosixProcessId, &PosixThreadId, &PosixLocalTime, &PosixNowNs};

}  // namespace

const LogEnvironment& PlatformLogEnvironment() { return kPosix; }

}  // namespace BrisqFramework
