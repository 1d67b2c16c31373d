#include "panel_harness.h"

#include <fstream>
#include <iterator>

#include "tests/support/unique_name.h"
#include "tools/common/process_window.h"

namespace panel_test {

namespace {

void remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(folder + name + L"\\");
      } else {
        ::DeleteFileW((folder + name).c_str());
      }
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

PanelFolder::PanelFolder(const std::wstring& library) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + test_support::UniqueName(L"tessaly") + L"\\";
  ::CreateDirectoryW(path_.c_str(), nullptr);
  ::CreateDirectoryW((path_ + L"inbox").c_str(), nullptr);
  ::CopyFileW((BuildFolder() + L"Tessaly.exe").c_str(), (path_ + L"Tessaly.exe").c_str(), FALSE);
  if (!library.empty()) {
    ::CopyFileW((BuildFolder() + library).c_str(), (path_ + L"Quenlo.dll").c_str(), FALSE);
  }
}

PanelFolder::~PanelFolder() { remove_tree(path_); }

std::string PanelFolder::read(const std::wstring& name) const {
  std::ifstream in((path_ + name).c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PanelFolder::write(const std::wstring& name, const std::string& bytes) const {
  std::ofstream out((path_ + name).c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void PanelFolder::send(const std::wstring& name, const std::string& bytes) const {
  // Written under another name first: the fake reads only complete files.
  write(L"inbox\\" + name + L".part", bytes);
  ::MoveFileW((path_ + L"inbox\\" + name + L".part").c_str(), (path_ + L"inbox\\" + name).c_str());
}

PanelProcess::PanelProcess(const PanelFolder& folder, const std::wstring& arguments,
                           bool inherit_handles) {
  test_support::ChildOptions options;
  options.working_folder = folder.path();
  options.inherit_all_handles = inherit_handles;
  process_.Start(L"\"" + folder.path() + L"Tessaly.exe\" " + arguments, options);
}

DWORD PanelProcess::wait_exit(std::chrono::milliseconds timeout) const {
  const DWORD code = process_.Wait(timeout);
  return code == test_support::ChildProcess::kStillRunning ? STILL_ACTIVE : code;
}

HWND PanelProcess::find_window(const wchar_t* window_class, bool visible_only,
                               std::chrono::milliseconds timeout) const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = quenlo_tools::FindProcessWindow(id(), window_class, visible_only);
        return found != nullptr || !running();
      },
      timeout, std::chrono::milliseconds(20));
  return found;
}

HWND PanelProcess::message_box() const {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = find_window(quenlo_tools::kMessageBoxClass, true, std::chrono::milliseconds(0));
        return (box != nullptr && !item_text(box, 0xFFFF).empty()) || !running();
      },
      std::chrono::seconds(20), std::chrono::milliseconds(20));
  return box;
}

std::wstring window_text(HWND window) {
  wchar_t text[512] = {};
  ::SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring item_text(HWND dialog, int id) { return window_text(::GetDlgItem(dialog, id)); }

std::wstring take_message_box(HWND box) {
  const std::wstring text = item_text(box, 0xFFFF);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return text;
}

}  // namespace panel_test
