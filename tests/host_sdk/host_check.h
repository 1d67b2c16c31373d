// host_check.h - output and checks of the freestanding MSVC-ABI test hosts:
// one line per failed check on standard output, counted for the exit code.
// No C runtime: text goes straight to the console handle.
#ifndef TESTS_HOST_SDK_HOST_CHECK_H
#define TESTS_HOST_SDK_HOST_CHECK_H

#include <windows.h>

namespace host_check {

// Checks failed so far (the host's exit code is 0 only while this is 0).
inline uint32_t& Failures() {
  static uint32_t count = 0;
  return count;
}

inline void Say(const char* text) {
  DWORD length = 0;
  while (text[length] != 0) ++length;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

inline void Check(bool ok, const char* what) {
  if (ok) return;
  ++Failures();
  Say("FAILED: ");
  Say(what);
  Say("\n");
}

}  // namespace host_check

#endif  // TESTS_HOST_SDK_HOST_CHECK_H
