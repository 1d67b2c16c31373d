#include "panel_harness.h"

#include <fstream>
#include <iterator>
#include <thread>

namespace panel_test {

std::wstring build_folder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

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
  static int serial = 0;
  path_ = std::wstring(temp) + L"tessaly-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(++serial) + L"\\";
  ::CreateDirectoryW(path_.c_str(), nullptr);
  ::CreateDirectoryW((path_ + L"inbox").c_str(), nullptr);
  ::CopyFileW((build_folder() + L"Tessaly.exe").c_str(), (path_ + L"Tessaly.exe").c_str(), FALSE);
  if (!library.empty()) {
    ::CopyFileW((build_folder() + library).c_str(), (path_ + L"Quenlo.dll").c_str(), FALSE);
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
  std::wstring command = L"\"" + folder.path() + L"Tessaly.exe\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, inherit_handles ? TRUE : FALSE, 0,
                   nullptr, folder.path().c_str(), &startup, &info_);
}

PanelProcess::~PanelProcess() {
  if (info_.hProcess == nullptr) return;
  if (running()) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, 5000);
  }
  ::CloseHandle(info_.hThread);
  ::CloseHandle(info_.hProcess);
}

bool PanelProcess::running() const {
  return info_.hProcess != nullptr && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD PanelProcess::wait_exit(std::chrono::milliseconds timeout) const {
  DWORD code = STILL_ACTIVE;
  if (info_.hProcess != nullptr &&
      ::WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(info_.hProcess, &code);
  }
  return code;
}

namespace {

struct WindowQuery {
  DWORD process;
  const wchar_t* window_class;
  bool visible_only;
  HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM param) {
  auto* query = reinterpret_cast<WindowQuery*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (owner == query->process && std::wstring(name) == query->window_class &&
      (!query->visible_only || ::IsWindowVisible(window))) {
    query->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND PanelProcess::find_window(const wchar_t* window_class, bool visible_only,
                               std::chrono::milliseconds timeout) const {
  WindowQuery query{id(), window_class, visible_only, nullptr};
  eventually(
      [&] {
        ::EnumWindows(match_window, reinterpret_cast<LPARAM>(&query));
        return query.found != nullptr || !running();
      },
      timeout);
  return query.found;
}

HWND PanelProcess::message_box() const {
  HWND box = nullptr;
  eventually(
      [&] {
        box = find_window(L"#32770", true, std::chrono::milliseconds(0));
        return (box != nullptr && !item_text(box, 0xFFFF).empty()) || !running();
      },
      std::chrono::seconds(20));
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

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace panel_test
