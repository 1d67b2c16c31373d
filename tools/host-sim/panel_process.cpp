#include "tools/host-sim/panel_process.h"

#include "tools/host-sim/wide_text.h"

namespace host_sim {

std::vector<std::wstring> panel_arguments(const std::wstring& pipe_name, uint32_t channels,
                                          const std::wstring& halvory_version,
                                          int32_t layout_mode) {
  return {L"--pipeName=" + pipe_name, L"--maxChannels=" + std::to_wstring(channels),
          L"--halvoryVersion=" + halvory_version, L"--layoutMode=" + std::to_wstring(layout_mode)};
}

std::wstring quote_argument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');  // they now precede the closing quote
  return out + L"\"";
}

PanelProcess::~PanelProcess() {
  if (info_.hThread != nullptr) ::CloseHandle(info_.hThread);
  if (info_.hProcess != nullptr) ::CloseHandle(info_.hProcess);
}

bool PanelProcess::start(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                         std::string& error) {
  std::wstring command = quote_argument(exe);
  for (const std::wstring& argument : arguments) command += L" " + quote_argument(argument);
  const std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
  // No standard handles either: Wine would otherwise hand host-sim's own to
  // the panel (and on to the desktop process it may start), keeping a
  // caller's output file or pipe open after host-sim ended.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = nullptr;
  if (!::CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info_)) {
    error = "cannot start " + narrow(exe) + " (error " + std::to_string(::GetLastError()) + ")";
    info_ = PROCESS_INFORMATION{};
    return false;
  }
  return true;
}

bool PanelProcess::running() const {
  return info_.hProcess != nullptr && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

int64_t PanelProcess::wait_exit(DWORD timeout_ms) const {
  if (info_.hProcess == nullptr) return -1;
  if (::WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  return ::GetExitCodeProcess(info_.hProcess, &code) ? static_cast<int64_t>(code) : -1;
}

void PanelProcess::terminate() {
  if (running()) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, 5000);
  }
}

}  // namespace host_sim
