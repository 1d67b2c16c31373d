#pragma once

// A running Tessaly.exe as the benchmark sees it from outside: its process
// (CPU time, memory) and its control panel (buttons, result lines), reached
// with plain Win32 calls from another process.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/common/launched_process.h"

namespace panel_host {

class PanelUnderTest {
 public:
  // Starts `program` with --pipeName=`pipe` --maxChannels=1 in its own
  // folder (where Quenlo.dll lies), without inheriting handles.
  PanelUnderTest(const std::wstring& program, const std::wstring& pipe);
  // Ends the program if it still runs (terminated with code 99).
  ~PanelUnderTest();
  PanelUnderTest(const PanelUnderTest&) = delete;
  PanelUnderTest& operator=(const PanelUnderTest&) = delete;

  bool started() const { return process_.Started(); }
  bool running() const { return process_.Running(); }
  // Finds the control panel window of this process; false after `timeout`.
  bool find_window(std::chrono::milliseconds timeout);
  HWND window() const { return window_; }

  // Posts a click to the button with control id `id` (posted, because a
  // handler may open a modal box).
  void click(int id) const;
  bool enabled(int id) const;

  // The vote count shown in result line `id` (109 or 110), read with a
  // WM_GETTEXT that gives up after 5 s; -1 when it cannot be read.
  std::int64_t shown_votes(int id) const;
  // Both result lines added; -1 when either cannot be read.
  std::int64_t shown_total() const;

  // User plus kernel time of the process so far, in 100 ns units.
  std::uint64_t cpu_time() const;
  // Working set now and at its peak, and private bytes; all in bytes.
  struct Memory {
    std::size_t working_set = 0;
    std::size_t peak_working_set = 0;
    std::size_t private_bytes = 0;
  };
  Memory memory() const;

  // Waits for the program to end; its exit code, or STILL_ACTIVE.
  DWORD wait_exit(std::chrono::milliseconds timeout) const;

 private:
  quenlo_tools::LaunchedProcess process_;
  HWND window_ = nullptr;
};

}  // namespace panel_host
