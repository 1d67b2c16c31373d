#include "panel_under_test.h"

#include <psapi.h>

#include <cwchar>
#include <thread>

#include "tools/common/process_window.h"

namespace panel_host {

PanelUnderTest::PanelUnderTest(const std::wstring& program, const std::wstring& pipe) {
  quenlo_tools::LaunchOptions options;
  options.working_folder = quenlo_tools::FolderOf(program);
  process_.Start(quenlo_tools::CommandLine(program, {L"--pipeName=" + pipe, L"--maxChannels=1"}),
                 options);
}

PanelUnderTest::~PanelUnderTest() { process_.Terminate(99, 5000); }

bool PanelUnderTest::find_window(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  HWND found = nullptr;
  while (found == nullptr && running() && std::chrono::steady_clock::now() < end) {
    found = quenlo_tools::FindProcessWindow(process_.Id(), quenlo_tools::kPanelWindowClass, false);
    if (found == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  window_ = found;
  return window_ != nullptr;
}

void PanelUnderTest::click(int id) const {
  ::PostMessageW(::GetDlgItem(window_, id), BM_CLICK, 0, 0);
}

bool PanelUnderTest::enabled(int id) const {
  return ::IsWindowEnabled(::GetDlgItem(window_, id)) != FALSE;
}

std::int64_t PanelUnderTest::shown_votes(int id) const {
  wchar_t text[256] = {};
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(::GetDlgItem(window_, id), WM_GETTEXT, 256,
                             reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &copied)) {
    return -1;
  }
  // "<token>  <label>：<votes> 票": the number follows the last full-width colon.
  const wchar_t* colon = std::wcsrchr(text, L'\xFF1A');
  if (colon == nullptr) return -1;
  wchar_t* end = nullptr;
  const unsigned long long votes = std::wcstoull(colon + 1, &end, 10);
  return end == colon + 1 ? -1 : static_cast<std::int64_t>(votes);
}

std::int64_t PanelUnderTest::shown_total() const {
  const std::int64_t first = shown_votes(109);
  const std::int64_t second = shown_votes(110);
  return first < 0 || second < 0 ? -1 : first + second;
}

std::uint64_t PanelUnderTest::cpu_time() const {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process_.Handle(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

PanelUnderTest::Memory PanelUnderTest::memory() const {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  Memory out;
  if (::K32GetProcessMemoryInfo(process_.Handle(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)) {
    out.working_set = counters.WorkingSetSize;
    out.peak_working_set = counters.PeakWorkingSetSize;
    out.private_bytes = counters.PrivateUsage;
  }
  return out;
}

DWORD PanelUnderTest::wait_exit(std::chrono::milliseconds timeout) const {
  const DWORD code = process_.Wait(static_cast<DWORD>(timeout.count()));
  return code == quenlo_tools::LaunchedProcess::kStillRunning ? STILL_ACTIVE : code;
}

}  // namespace panel_host
