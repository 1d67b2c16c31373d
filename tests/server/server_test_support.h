// Test helpers for the pipe server: probes of the process (threads,
// handles) and of the pipe namespace.
#ifndef TESTS_SERVER_SERVER_TEST_SUPPORT_H
#define TESTS_SERVER_SERVER_TEST_SUPPORT_H

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "Quenlo/Quenlo.h"
#include "tests/support/wait_until.h"

namespace server_test {

constexpr DWORD kWaitMs = 20000;

// Threads of this process right now.
inline int ThreadCount() {
  BrisqFramework::BrisqHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (snapshot.Get() == INVALID_HANDLE_VALUE) {
    (void)snapshot.Detach();
    return -1;
  }
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
       more = ::Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  return count;
}

// Waits (threads end a little after they are joined) until the count is
// back at `expected`; returns the last count seen.
inline int SettledThreadCount(int expected, DWORD timeout_ms = 3000) {
  int count = ThreadCount();
  test_support::WaitUntil([&] { return (count = ThreadCount()) == expected; },
                          std::chrono::milliseconds(timeout_ms));
  return count;
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0;
// then every handle value (a multiple of 4) is probed instead.
inline DWORD HandleCount() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
  for (uintptr_t value = 4; value < (1u << 18); value += 4) {
    DWORD flags = 0;
    count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  }
  return count;
}

// One reference to a server, released on destruction unless given up.
class ServerRef {
 public:
  explicit ServerRef(Quenlo::IPipeServer* server) : server_(server) {}
  ~ServerRef() {
    if (server_ != nullptr) server_->Release();
  }
  ServerRef(const ServerRef&) = delete;
  ServerRef& operator=(const ServerRef&) = delete;
  Quenlo::IPipeServer* operator->() const { return server_; }
  Quenlo::IPipeServer* Get() const { return server_; }
  // Releases the reference now; returns Release's result.
  uint32_t ReleaseNow() {
    Quenlo::IPipeServer* server = server_;
    server_ = nullptr;
    return server->Release();
  }
  // Keeps the reference (a test that found a deadlock must not block in
  // Release at its end).
  void Leak() { server_ = nullptr; }

 private:
  Quenlo::IPipeServer* server_;
};

}  // namespace server_test

#endif  // TESTS_SERVER_SERVER_TEST_SUPPORT_H
