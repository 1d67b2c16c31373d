// Test helpers for the pipe server: an event recorder for the host's
// callback, a child process owner, and probes of the process (threads,
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

namespace server_test {

constexpr DWORD kWaitMs = 20000;

// A pipe name no other test (or run) uses.
inline std::wstring UniqueName(const wchar_t* tag) {
  static std::atomic<int> counter{0};
  return std::wstring(L"servertest.") + tag + L"." + std::to_wstring(::GetCurrentProcessId()) +
         L"." + std::to_wstring(++counter);
}

// Polls `done` every 5 ms until it holds or `timeout_ms` passed.
inline bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms = kWaitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(5);
  }
}

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
  WaitUntil([&] { return (count = ThreadCount()) == expected; }, timeout_ms);
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

// True when a server end of "\\.\pipe\ipc." + name exists (free or busy).
inline bool PipeExists(const std::wstring& name) {
  const std::wstring path = L"\\\\.\\pipe\\ipc." + name;
  if (::WaitNamedPipeW(path.c_str(), 1)) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_BAD_PATHNAME;
}

// One event the host's callback received. For EVENT_PACKET `data` holds the
// 168-byte record and the checks below were made during the call, while
// the plane pointers were valid.
struct HostEvent {
  uint32_t event = 0;
  uint32_t type = 0;
  std::string data;
  bool null_data = true;
  bool payload_matches = false;  // the plane bytes are the expected pattern
  bool payload_mapped = false;   // data[0] lies in a file mapping
};

// The host's callback: keeps every event; tests wait on it instead of
// sleeping. Runs on several library threads at once.
class Recorder {
 public:
  // Checks a packet's payload during the callback; returns true when it
  // holds the expected bytes.
  std::function<bool(const MediaPacket&)> check_payload;
  // Runs on the library's thread after the event was recorded.
  std::function<void(uint32_t event, uint32_t type, const char* data, uint32_t length)> on_event;

  static void Callback(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                       void* context) {
    auto* self = static_cast<Recorder*>(context);
    HostEvent e;
    e.event = event;
    e.type = type;
    e.null_data = (data == nullptr);
    if (data != nullptr) e.data.assign(data, length);
    if (event == EVENT_PACKET && data != nullptr && length == sizeof(MediaPacket)) {
      MediaPacket packet;
      std::memcpy(&packet, data, sizeof(packet));
      MEMORY_BASIC_INFORMATION info = {};
      e.payload_mapped = packet.data[0] != nullptr &&
                         ::VirtualQuery(packet.data[0], &info, sizeof(info)) == sizeof(info) &&
                         info.Type == MEM_MAPPED;
      e.payload_matches = self->check_payload && self->check_payload(packet);
    }
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->events_.push_back(std::move(e));
    }
    self->changed_.notify_all();
    if (self->on_event) self->on_event(event, type, data, length);
  }

  bool WaitFor(const std::function<bool(const std::vector<HostEvent>&)>& done,
               DWORD timeout_ms = kWaitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return done(events_); });
  }
  // Waits until `count` events of the kind (and, unless ~0u, the type) came.
  bool WaitForCount(uint32_t event, size_t count, uint32_t type = ~0u, DWORD timeout_ms = kWaitMs) {
    return WaitFor(
        [&](const std::vector<HostEvent>& e) { return CountIn(e, event, type) >= count; },
        timeout_ms);
  }
  size_t Count(uint32_t event, uint32_t type = ~0u) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountIn(events_, event, type);
  }
  std::vector<HostEvent> Of(uint32_t event) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HostEvent> out;
    for (const HostEvent& e : events_) {
      if (e.event == event) out.push_back(e);
    }
    return out;
  }

 private:
  static size_t CountIn(const std::vector<HostEvent>& events, uint32_t event, uint32_t type) {
    size_t n = 0;
    for (const HostEvent& e : events) n += (e.event == event && (type == ~0u || e.type == type));
    return n;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<HostEvent> events_;
};

// A child process, killed (if still running) and closed on destruction.
// Started without handle inheritance unless an output handle is given (then
// it inherits every inheritable handle, as a host's captured child does).
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Runs this test program again with `arguments`.
  bool StartSelf(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return Start(L"\"" + std::wstring(self, n) + L"\" " + arguments, nullptr);
  }

  // Runs `command_line`; with `output` non-null its stdout and stderr go to
  // that (inheritable) handle, the only handle the child inherits.
  bool Start(std::wstring command_line, HANDLE output) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = nullptr;
      startup.hStdOutput = output;
      startup.hStdError = output;
    }
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr,
                          output != nullptr ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &info)) {
      return false;
    }
    process_.Reset(info.hProcess);
    ::CloseHandle(info.hThread);
    id_ = info.dwProcessId;
    return true;
  }

  // Waits for the end; returns the exit code, or ~0u on time-out.
  DWORD Wait(DWORD timeout_ms = kWaitMs) {
    if (!process_.IsValid() || ::WaitForSingleObject(process_.Get(), timeout_ms) != WAIT_OBJECT_0) {
      return ~0u;
    }
    DWORD code = ~0u;
    ::GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

  // Ends the child at once (as a crash would) and closes its handle.
  void Kill() {
    if (!process_.IsValid()) return;
    ::TerminateProcess(process_.Get(), 77);
    ::WaitForSingleObject(process_.Get(), kWaitMs);
    process_.Reset();
  }

  DWORD Id() const { return id_; }

 private:
  BrisqFramework::BrisqHandle process_;
  DWORD id_ = 0;
};

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
