// process_window.h - finding a top-level window of another process (the
// panel's control panel, its message boxes) by window class.
#ifndef TOOLS_COMMON_PROCESS_WINDOW_H
#define TOOLS_COMMON_PROCESS_WINDOW_H

#include <windows.h>

namespace quenlo_tools {

// The panel program's main window class.
constexpr const wchar_t* kPanelWindowClass = L"TessalyControlPanel";
// The class of a message box.
constexpr const wchar_t* kMessageBoxClass = L"#32770";

// A top-level window of `window_class` that belongs to `process_id`
// (visible ones only when `visible_only`), or null. One look, no waiting.
HWND FindProcessWindow(DWORD process_id, const wchar_t* window_class, bool visible_only);

}  // namespace quenlo_tools

#endif  // TOOLS_COMMON_PROCESS_WINDOW_H
