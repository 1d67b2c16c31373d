#include "tests/support/child_process.h"

#include <vector>

namespace test_support {

std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

std::wstring BuildFolder() {
  const std::wstring self = SelfPath();
  return self.substr(0, self.rfind(L'\\') + 1);
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::StartSelf(const std::wstring& arguments, const ChildOptions& options) {
  return Start(L"\"" + SelfPath() + L"\" " + arguments, options);
}

bool ChildProcess::Start(std::wstring command_line, const ChildOptions& options) {
  Kill();
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  DWORD flags = options.creation_flags;
  BOOL inherit = FALSE;
  HANDLE inherited[2] = {options.output, options.error};
  const SIZE_T inherited_count =
      (options.error != nullptr && options.error != options.output) ? 2 : 1;
  std::vector<char> attributes;
  if (options.inherit_all_handles) inherit = TRUE;
  if (options.output != nullptr) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = options.output;
    startup.StartupInfo.hStdError = options.error != nullptr ? options.error : options.output;
    inherit = TRUE;
  }
  if (options.output != nullptr && !options.inherit_all_handles) {
    // Inheritance on, but limited to the output handles.
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    inherited_count * sizeof(HANDLE), nullptr, nullptr)) {
      startup.lpAttributeList = list;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }
  PROCESS_INFORMATION info = {};
  const BOOL created =
      ::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, inherit, flags, nullptr,
                       options.working_folder.empty() ? nullptr : options.working_folder.c_str(),
                       &startup.StartupInfo, &info);
  if (startup.lpAttributeList != nullptr) ::DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!created) return false;
  process_.Reset(info.hProcess);
  ::CloseHandle(info.hThread);
  id_ = info.dwProcessId;
  stop_watchdog_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE handles[2] = {process_.Get(), stop_watchdog_.Get()};
  const DWORD limit = static_cast<DWORD>(options.watchdog.count());
  watchdog_ = std::thread([handles, limit] {
    if (::WaitForMultipleObjects(2, handles, FALSE, limit) == WAIT_TIMEOUT) {
      ::TerminateProcess(handles[0], kWatchdogExitCode);
    }
  });
  return true;
}

DWORD ChildProcess::Wait(std::chrono::milliseconds timeout) const {
  if (!process_.IsValid() ||
      ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return kStillRunning;
  }
  DWORD code = kStillRunning;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

bool ChildProcess::Running() const {
  return process_.IsValid() && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
  if (!process_.IsValid()) return;
  if (Running()) {
    ::TerminateProcess(process_.Get(), kKilledExitCode);
    ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(kWaitTimeout.count()));
  }
  ::SetEvent(stop_watchdog_.Get());
  if (watchdog_.joinable()) watchdog_.join();
  stop_watchdog_.Reset();
  process_.Reset();
}

}  // namespace test_support
