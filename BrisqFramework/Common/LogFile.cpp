#include "BrisqFramework/Common/LogFile.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "BrisqFramework/Common/BrisqFile.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {
namespace {

// The chosen path and its file. Nothing in here logs: it runs inside the
// delivery of a log line. Never destroyed, so lines written while the
// process exits still find it.
struct LogFileState {
  std::mutex lock;  // guards path and file
  std::wstring path;
  BrisqFile file;
};

LogFileState& State() {
  static LogFileState* const state = new LogFileState;
  return *state;
}

// The log-file writer of the logging core: appends one line, opening the
// file again if an earlier open failed.
void WriteLine(const char* data, size_t size) {
  LogFileState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.path.empty()) return;
  if (state.file.OpenForAppend(state.path)) state.file.Write(data, size);
}

std::wstring Widen(const char* ascii) {
  std::wstring out;
  for (const char* p = ascii; *p != '\0'; ++p) out.push_back(static_cast<wchar_t>(*p));
  return out;
}

}  // namespace

std::wstring DefaultLogFilePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n < buffer.size() || buffer.size() >= 32768) {
      buffer.resize(n < buffer.size() ? n : buffer.size());
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  std::wstring path(buffer.begin(), buffer.end());
  const size_t slash = path.find_last_of(L'\\');
  path.erase(slash == std::wstring::npos ? 0 : slash + 1);

  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char name[64];
  std::snprintf(name, sizeof(name), "%d%02d%02d %02d-%02d-%02d", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  path += Widen(name);
  std::snprintf(name, sizeof(name), "-%d.log", static_cast<int>(::GetCurrentProcessId()));
  path += Widen(name);
  return path;
}

bool SetLogFile(const wchar_t* path) {
  LogFileState& state = State();
  bool open = false;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.file.Close();
    state.path = (path != nullptr && *path != L'\0') ? std::wstring(path) : DefaultLogFilePath();
    open = state.file.OpenForAppend(state.path);
  }
  SetLogFileWriter(&WriteLine);
  return open;
}

std::wstring LogFilePath() {
  LogFileState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.path;
}

}  // namespace BrisqFramework
