#pragma once

// Drives a real Tessaly.exe from a test as a user and a host would: starts it
// in a folder of its own, finds its windows and message boxes, feeds the fake
// library's inbox and reads its reports.

#include <windows.h>

#include <chrono>
#include <string>

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

// A running Tessaly.exe; killed if still running when the object goes away.
// With `inherit_handles` it gets every inheritable handle of this process,
// as from a host that captures its children's output.
class PanelProcess {
 public:
  PanelProcess(const PanelFolder& folder, const std::wstring& arguments,
               bool inherit_handles = false);
  PanelProcess(const PanelProcess&) = delete;
  PanelProcess& operator=(const PanelProcess&) = delete;

  DWORD id() const { return process_.Id(); }
  bool running() const { return process_.Running(); }
  // The exit code, or STILL_ACTIVE when it did not end within `timeout`.
  DWORD wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // The top-level window of `window_class` owned by this process, or null
  // after `timeout`. Hidden windows count when `visible_only` is false.
  HWND find_window(const wchar_t* window_class, bool visible_only = true,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  HWND panel() const { return find_window(L"TessalyControlPanel"); }
  // Its message box, once the box shows its text (a box is found by class
  // before its texts are set), or null after 20 s or when the program ended.
  HWND message_box() const;

 private:
  test_support::ChildProcess process_;
};

std::wstring window_text(HWND window);
std::wstring item_text(HWND dialog, int id);
// The text of a message box (its static 0xFFFF); closes the box with IDOK.
std::wstring take_message_box(HWND box);

}  // namespace panel_test
