#include "panel_harness.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "tests/support/unique_name.h"
#include "tools/common/process_window.h"

namespace panel_test {

namespace {

// A visible top-level window of `window_class` in `process` once `ready`
// holds for it; the last one found after 20 s or once `gone`.
HWND wait_window(DWORD process, const wchar_t* window_class, const std::function<bool(HWND)>& ready,
                 const std::function<bool()>& gone) {
  HWND found = nullptr;
  WaitUntil([&] {
    found = quenlo_tools::FindProcessWindow(process, window_class, true);
    return (found != nullptr && ready(found)) || gone();
  });
  return found;
}

}  // namespace

PanelFolder::PanelFolder(const std::wstring& library) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  path_ = temp + test_support::UniqueName(L"tessaly") + L"\\";
  std::filesystem::create_directories(path_ + L"inbox");
  ::CopyFileW((BuildFolder() + L"Tessaly.exe").c_str(), (path_ + L"Tessaly.exe").c_str(), FALSE);
  if (!library.empty()) {
    ::CopyFileW((BuildFolder() + library).c_str(), (path_ + L"Quenlo.dll").c_str(), FALSE);
  }
}

PanelFolder::~PanelFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_).parent_path(), ignored);
}

std::string PanelFolder::read(const std::wstring& name) const {
  std::ifstream in((path_ + name).c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PanelFolder::write(const std::wstring& name, const std::string& bytes) const {
  std::ofstream((path_ + name).c_str(), std::ios::binary | std::ios::trunc) << bytes;
}

void PanelFolder::send(const std::wstring& name, const std::string& bytes) const {
  // Written under another name first: the fake reads only complete files.
  write(L"inbox\\" + name + L".part", bytes);
  ::MoveFileW((path_ + L"inbox\\" + name + L".part").c_str(), (path_ + L"inbox\\" + name).c_str());
}

HWND find_message_box(DWORD process, const std::function<bool()>& gone) {
  return wait_window(
      process, quenlo_tools::kMessageBoxClass,
      [](HWND box) { return !item_text(box, 0xFFFF).empty(); }, gone);
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

HWND PanelProcess::panel() const {
  return wait_window(
      id(), quenlo_tools::kPanelWindowClass, [](HWND) { return true; },
      [this] { return !running(); });
}

std::int64_t unix_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string subscriptions_fault(const std::vector<std::pair<std::uint32_t, std::string>>& sent,
                                std::int64_t earliest, std::int64_t latest) {
  const char* const names[] = {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS", "OPEN_WIN_CLOSE"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (i >= sent.size()) return "only " + std::to_string(sent.size()) + " sent";
    const std::string& text = sent[i].second;
    const std::regex form(
        std::string(R"re(\{"type":"request","reqId":"subscribe-)re") + names[i] +
        R"re(-([0-9]+)","method":"x\.subscribeEvent","params":\{"eventName":")re" + names[i] +
        R"re(","timestamp":([0-9]+)\}\})re");
    std::smatch parts;
    if (sent[i].first != 101 || !std::regex_match(text, parts, form) || parts[1] != parts[2]) {
      return "type " + std::to_string(sent[i].first) + ": " + text;
    }
    const std::int64_t ms = std::stoll(parts[1].str());
    if (ms < earliest || ms > latest) {
      return text + " not in [" + std::to_string(earliest) + ", " + std::to_string(latest) + "]";
    }
  }
  return "";
}

std::wstring window_text(HWND window) {
  wchar_t text[512] = {};
  ::SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring item_text(HWND dialog, int id) { return window_text(::GetDlgItem(dialog, id)); }

std::wstring take_message_box(HWND box) {
  if (box == nullptr) return L"(no box)";
  const std::wstring text = item_text(box, 0xFFFF);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return text;
}

}  // namespace panel_test
