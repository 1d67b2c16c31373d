#include "tools/common/process_window.h"

#include <cwchar>

namespace quenlo_tools {
namespace {

struct WindowQuery {
  DWORD process;
  const wchar_t* window_class;
  bool visible_only;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* query = reinterpret_cast<WindowQuery*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (owner == query->process && std::wcscmp(name, query->window_class) == 0 &&
      (!query->visible_only || ::IsWindowVisible(window))) {
    query->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD process_id, const wchar_t* window_class, bool visible_only) {
  WindowQuery query{process_id, window_class, visible_only, nullptr};
  ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

}  // namespace quenlo_tools
