#pragma once

// Drives a real Tessaly.exe from a test as a user and a host would: starts it
// in a folder of its own, finds its windows and message boxes, feeds the fake
// library's inbox and reads its reports.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"

namespace panel_test {

using test_support::BuildFolder;
using test_support::WaitUntil;

// A fresh folder holding a copy of Tessaly.exe and, if `library` is not
// empty, that file of the build folder copied as Quenlo.dll. Removed again,
// with everything in it, when the object goes away.
class PanelFolder {
 public:
  explicit PanelFolder(const std::wstring& library);
  ~PanelFolder();
  PanelFolder(const PanelFolder&) = delete;
  PanelFolder& operator=(const PanelFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::string read(const std::wstring& name) const;  // "" when missing
  void write(const std::wstring& name, const std::string& bytes) const;
  // Puts `bytes` into the fake library's inbox under `name` (.json or .evt).
  void send(const std::wstring& name, const std::string& bytes) const;

 private:
  std::wstring path_;
};

// A visible message box of `process` once it shows its text (a box is found
// by class before its texts are set), or null after 20 s or once `gone`.
HWND find_message_box(
    DWORD process, const std::function<bool()>& gone = [] { return false; });

// A running Tessaly.exe; killed if still running when the object goes away.
// With `inherit_handles` it gets every inheritable handle of this process,
// as from a host that captures its children's output.
class PanelProcess {
 public:
  PanelProcess(const PanelFolder& folder, const std::wstring& arguments,
               bool inherit_handles = false);

  DWORD id() const { return process_.Id(); }
  bool running() const { return process_.Running(); }
  // The exit code, or STILL_ACTIVE when it did not end within `timeout`.
  DWORD wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // The visible control panel, or null after 20 s or when the program ended.
  HWND panel() const;
  HWND message_box() const {
    return find_message_box(id(), [this] { return !running(); });
  }

 private:
  test_support::ChildProcess process_;
};

// Milliseconds since 1970, as the panel stamps its requests.
std::int64_t unix_ms();
// What is wrong with the first three of `sent` (type, text) as the panel's
// subscriptions to the host's live data, focus and close events, in that
// order, each with an id and a time stamp of one reading of the clock within
// [earliest, latest]; "" when nothing is.
std::string subscriptions_fault(const std::vector<std::pair<std::uint32_t, std::string>>& sent,
                                std::int64_t earliest, std::int64_t latest);

std::wstring window_text(HWND window);
std::wstring item_text(HWND dialog, int id);
// The text of a message box (its static 0xFFFF), which it closes with IDOK;
// "(no box)" for null.
std::wstring take_message_box(HWND box);

}  // namespace panel_test
