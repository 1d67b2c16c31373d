#include "tests/support/child_process.h"

namespace test_support {

std::wstring SelfPath() { return quenlo_tools::SelfPath(); }

std::wstring BuildFolder() { return quenlo_tools::FolderOf(SelfPath()); }

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::StartSelf(const std::wstring& arguments, const ChildOptions& options) {
  return Start(L"\"" + SelfPath() + L"\" " + arguments, options);
}

bool ChildProcess::Start(std::wstring command_line, const ChildOptions& options) {
  Kill();
  if (!process_.Start(std::move(command_line), options)) return false;
  stop_watchdog_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE handles[2] = {process_.Handle(), stop_watchdog_.Get()};
  const DWORD limit = static_cast<DWORD>(options.watchdog.count());
  watchdog_ = std::thread([handles, limit] {
    if (::WaitForMultipleObjects(2, handles, FALSE, limit) == WAIT_TIMEOUT) {
      ::TerminateProcess(handles[0], kWatchdogExitCode);
    }
  });
  return true;
}

DWORD ChildProcess::Wait(std::chrono::milliseconds timeout) const {
  return process_.Wait(static_cast<DWORD>(timeout.count()));
}

bool ChildProcess::Running() const { return process_.Running(); }

void ChildProcess::Kill() {
  if (!process_.Started()) return;
  process_.Terminate(kKilledExitCode, static_cast<DWORD>(kWaitTimeout.count()));
  ::SetEvent(stop_watchdog_.Get());
  if (watchdog_.joinable()) watchdog_.join();
  stop_watchdog_.Reset();
  process_.Close();
}

}  // namespace test_support
