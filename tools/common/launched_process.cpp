#include "tools/common/launched_process.h"

namespace quenlo_tools {

std::wstring QuoteArgument(const std::wstring& argument) {
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

std::wstring CommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  std::wstring line = QuoteArgument(program);
  for (const std::wstring& argument : arguments) line += L" " + QuoteArgument(argument);
  return line;
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  return std::wstring(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t end = path.find_last_of(L"\\/");
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

bool LaunchedProcess::Start(std::wstring command_line, const LaunchOptions& options, DWORD* error) {
  Close();
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  DWORD flags = options.creation_flags;
  BOOL inherit = options.inherit_all_handles ? TRUE : FALSE;
  if (options.output != nullptr) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = options.output;
    startup.StartupInfo.hStdError = options.error != nullptr ? options.error : options.output;
    inherit = TRUE;
  } else if (!options.standard_handles) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;  // all three null
  }
  std::vector<char> attributes;
  if (options.output != nullptr && !options.inherit_all_handles) {
    // Inheritance on, but limited to the output handles.
    HANDLE inherited[2] = {options.output, options.error};
    const SIZE_T count = (options.error != nullptr && options.error != options.output) ? 2 : 1;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    count * sizeof(HANDLE), nullptr, nullptr)) {
      startup.lpAttributeList = list;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }
  PROCESS_INFORMATION info = {};
  const BOOL created =
      ::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, inherit, flags, nullptr,
                       options.working_folder.empty() ? nullptr : options.working_folder.c_str(),
                       &startup.StartupInfo, &info);
  const DWORD failure = created ? 0 : ::GetLastError();
  if (startup.lpAttributeList != nullptr) ::DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!created) {
    if (error != nullptr) *error = failure;
    return false;
  }
  ::CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;
  return true;
}

DWORD LaunchedProcess::Wait(DWORD timeout_ms) const {
  if (!process_.IsValid() || ::WaitForSingleObject(process_.Get(), timeout_ms) != WAIT_OBJECT_0) {
    return kStillRunning;
  }
  DWORD code = kStillRunning;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

bool LaunchedProcess::Running() const {
  return process_.IsValid() && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

void LaunchedProcess::Terminate(DWORD exit_code, DWORD wait_ms) {
  if (!Running()) return;
  ::TerminateProcess(process_.Get(), exit_code);
  ::WaitForSingleObject(process_.Get(), wait_ms);
}

void LaunchedProcess::Close() {
  process_.Reset();
  id_ = 0;
}

}  // namespace quenlo_tools
