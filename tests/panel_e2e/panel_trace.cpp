// panel_trace.dll: window hooks that a test installs on the UI thread of a
// running Tessaly.exe (SetWindowsHookExW with this module and that thread's
// id), so that it sees what happens between two reads of the window: every
// status text and the host-link messages in the order the UI thread handled
// them, even when the window is gone a moment later.
//
// Each observation becomes one UTF-8 line appended to "panel-trace.txt" in
// the panel's current folder:
//   status <text>   a text set into the status line (control 100)
//   show <0|1>      the control panel was shown or hidden
//   app <n>         the UI thread took posted message WM_APP + n (1..6)
//
// Runs only on the hooked UI thread, one call at a time; the file is opened,
// appended to and closed for each line, so nothing is lost when the panel
// ends right afterwards.
#include <windows.h>

#include <string>

namespace {

void append_line(const std::string& line) {
  const HANDLE file = ::CreateFileW(L"panel-trace.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::string utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

bool is_panel(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return std::wstring(name) == L"TessalyControlPanel";
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    trace_call_wnd_proc(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (call->message == WM_SETTEXT && call->lParam != 0 && ::GetDlgCtrlID(call->hwnd) == 100 &&
        is_panel(::GetParent(call->hwnd))) {
      append_line("status " + utf8(reinterpret_cast<const wchar_t*>(call->lParam)));
    } else if (call->message == WM_SHOWWINDOW && is_panel(call->hwnd)) {
      append_line(call->wParam ? "show 1" : "show 0");
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK
    trace_get_message(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && (wparam & PM_REMOVE) != 0) {
    const auto* msg = reinterpret_cast<const MSG*>(lparam);
    if (msg->message >= WM_APP + 1 && msg->message <= WM_APP + 6) {
      append_line("app " + std::to_string(msg->message - WM_APP));
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}
