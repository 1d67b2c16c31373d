#include "panel/window_proc.h"

#include <memory>

#include "BrisqFramework/Common/LogException.h"
#include "panel/app_context.h"
#include "panel/live/live_event.h"
#include "panel/overlay_renderer.h"
#include "panel/panel_commands.h"
#include "panel/window_messages.h"

namespace tessaly {

namespace {

struct ControlLayout {
  int id;  // 0: a label nobody addresses
  const wchar_t* window_class;
  const wchar_t* text;
  DWORD style;  // added to WS_CHILD | WS_VISIBLE
  int x, y, width, height;
};

const DWORD kEditStyle = WS_BORDER | ES_AUTOHSCROLL;

// The controls in creation order; the first one is the heading.
const ControlLayout kControls[] = {
    {0, L"STATIC", L"Tessaly", 0, 24, 18, 300, 36},
    {kIdStatus, L"STATIC", L"正在连接Halvory…", 0, 24, 58, 560, 28},
    {0, L"STATIC", L"互动设置", 0, 24, 104, 160, 28},
    {0, L"STATIC", L"标题", 0, 24, 143, 50, 28},
    {kIdTitle, L"EDIT", L"请选择一个选项", kEditStyle, 76, 138, 470, 32},
    {0, L"STATIC", L"选项一", 0, 24, 188, 60, 28},
    {kIdLabel1, L"EDIT", L"选项一", kEditStyle, 86, 183, 270, 32},
    {0, L"STATIC", L"口令", 0, 370, 188, 45, 28},
    {kIdToken1, L"EDIT", L"1", kEditStyle, 418, 183, 70, 32},
    {0, L"STATIC", L"选项二", 0, 24, 230, 60, 28},
    {kIdLabel2, L"EDIT", L"选项二", kEditStyle, 86, 225, 270, 32},
    {0, L"STATIC", L"口令", 0, 370, 230, 45, 28},
    {kIdToken2, L"EDIT", L"2", kEditStyle, 418, 225, 70, 32},
    {kIdStart, L"BUTTON", L"开始互动", BS_PUSHBUTTON, 24, 276, 130, 38},
    {kIdEnd, L"BUTTON", L"结束", BS_PUSHBUTTON, 166, 276, 100, 38},
    {kIdShowResults, L"BUTTON", L"显示结果", BS_PUSHBUTTON, 278, 276, 120, 38},
    {kIdResult1, L"STATIC", L"1  选项一：0 票", 0, 24, 329, 250, 28},
    {kIdResult2, L"STATIC", L"2  选项二：0 票", 0, 290, 329, 250, 28},
    {0, L"STATIC", L"评论候选（口令以外的评论会列在这里）", 0, 24, 382, 500, 28},
    {kIdCandidates, L"LISTBOX", L"", WS_VSCROLL | WS_BORDER | LBS_NOTIFY, 24, 416, 590, 178},
    {kIdConfirm, L"BUTTON", L"确认展示", BS_PUSHBUTTON, 632, 416, 120, 40},
    {kIdConfirmed, L"STATIC", L"尚未确认展示内容", SS_NOPREFIX, 632, 470, 190, 100},
};

UniqueFont make_panel_font(int height, int weight) {
  return UniqueFont(::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, L"Microsoft YaHei UI"));
}

void create_controls(const AppContext& app, HWND hwnd) {
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hwnd, GWLP_HINSTANCE));
  bool heading = true;
  for (const ControlLayout& c : kControls) {
    const HWND control = ::CreateWindowExW(
        0, c.window_class, c.text, WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.width, c.height,
        hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    if (control != nullptr) {
      if (app.ui_font) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(app.ui_font.Get()), TRUE);
      }
      if (heading && app.title_font) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(app.title_font.Get()), TRUE);
      }
    }
    heading = false;
  }
}

LRESULT on_create(AppContext& app, HWND hwnd) {
  app.ui_font = make_panel_font(18, FW_NORMAL);
  app.title_font = make_panel_font(26, FW_BOLD);
  create_controls(app, hwnd);
  ::EnableWindow(::GetDlgItem(hwnd, kIdEnd), FALSE);
  rebuild_overlay(app);
  ::SetTimer(hwnd, kRefreshTimer, kRefreshPeriodMs, nullptr);
  return 0;
}

// Dirty flags set by comments since the last tick, applied in a fixed order:
// result lines, candidate list, overlay.
void on_refresh_timer(AppContext& app) {
  if (app.results_dirty) {
    refresh_results(app);
    app.results_dirty = false;
  }
  if (app.candidates_dirty) {
    refresh_candidates(app);
    app.candidates_dirty = false;
  }
  if (app.overlay_dirty) {
    rebuild_overlay(app);
    app.overlay_dirty = false;
  }
}

void on_comment(AppContext& app, LPARAM lparam) {
  // The posted copy belongs to this thread from here on.
  std::unique_ptr<LiveComment> comment(reinterpret_cast<LiveComment*>(lparam));
  if (!comment) return;
  switch (app.engine.ingest(*comment)) {
    case IngestResult::Vote:
      app.results_dirty = true;
      if (app.overlay_mode == OverlayMode::Results) {
        app.overlay_dirty = true;
      }
      break;
    case IngestResult::Candidate:
      app.candidates_dirty = true;
      break;
    case IngestResult::Ignored:
      break;
  }
}

void set_status(HWND hwnd, const wchar_t* text) { ::SetDlgItemTextW(hwnd, kIdStatus, text); }

void request_close(AppContext& app, HWND hwnd) {
  app.closing = true;
  ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

LRESULT handle_message(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    auto* app = static_cast<AppContext*>(create->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
    if (app != nullptr) app->hwnd = hwnd;
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  auto* app = reinterpret_cast<AppContext*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (app == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);

  switch (message) {
    case WM_CREATE:
      return on_create(*app, hwnd);
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kIdStart:
          start_interaction(*app);
          return 0;
        case kIdEnd:
          end_interaction(*app);
          return 0;
        case kIdShowResults:
          show_results(*app);
          return 0;
        case kIdConfirm:
          confirm_candidate(*app);
          return 0;
        default:
          break;
      }
      break;
    case WM_TIMER:
      if (wparam == kRefreshTimer) {
        on_refresh_timer(*app);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (app->closing) {
        ::DestroyWindow(hwnd);
      } else {
        ::ShowWindow(hwnd, SW_HIDE);
      }
      return 0;
    case WM_DESTROY:
      ::KillTimer(hwnd, kRefreshTimer);
      app->stopping.exchange(true);
      ::PostQuitMessage(0);
      return 0;
    case kMsgComment:
      on_comment(*app, lparam);
      return 0;
    case kMsgConnected:
      set_status(hwnd, L"已连接Halvory，正在接收互动评论。");
      return 0;
    case kMsgLinkBroken:
      set_status(hwnd, L"连接暂时中断，等待Halvory恢复连接…");
      return 0;
    case kMsgHostDisconnected:
      set_status(hwnd, L"Halvory已断开，插件将安全退出。");
      request_close(*app, hwnd);
      return 0;
    case kMsgCloseRequest:
      request_close(*app, hwnd);
      return 0;
    case kMsgFocus:
      ::ShowWindow(hwnd, SW_RESTORE);
      ::SetForegroundWindow(hwnd);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // No exception may unwind into the system's message dispatch: the message
  // is dropped. A window that could not build itself is not created.
  try {
    return handle_message(hwnd, message, wparam, lparam);
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to window_proc");
    return message == WM_CREATE ? -1 : 0;
  }
}

}  // namespace tessaly
