// The Windows providers of log records.
#include <windows.h>

#include "BrisqFramework/Common/BrisqClock.h"
#include "BrisqFramework/Common/LogEnvironment.h"

namespace BrisqFramework {
namespace {

uint32_t WinProcessId() { return ::GetCurrentProcessId(); }
uint32_t WinThreadId() { return ::GetCurrentThreadId(); }

LogTime WinLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  LogTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

int64_t WinNowNs() { return static_cast<int64_t>(GetTimeNS()); }

constexpr LogEnvironment kWindows = {&WinProcessId, &WinThreadId, &WinLocalTime, &WinNowNs};

}  // namespace

const LogEnvironment& PlatformLogEnvironment() { return kWindows; }

}  // namespace BrisqFramework
