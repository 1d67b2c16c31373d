#include "panel/panel_commands.h"

#include <windows.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "panel/app_context.h"
#include "panel/overlay_renderer.h"
#include "panel/text_convert.h"
#include "panel/window_proc.h"

namespace tessaly {

namespace {

const wchar_t* const kCaption = L"Tessaly";

std::string item_text_utf8(HWND hwnd, int id) {
  return utf8_from_wide(control_text(::GetDlgItem(hwnd, id)));
}

void set_mode(AppContext& app, OverlayMode mode) { app.overlay_mode = mode; }

}  // namespace

std::wstring result_line_text(const InteractionChoice& choice) {
  return wide_from_utf8(choice.token + "  " + choice.label + "：" + std::to_string(choice.votes) +
                        " 票");
}

std::wstring candidate_entry_text(const CommentCandidate& candidate) {
  std::string entry = candidate.nickname;
  if (!entry.empty()) entry += "：";
  entry += candidate.content;
  return wide_from_utf8(entry);
}

void start_interaction(AppContext& app) {
  try {
    // Read in this order: keyword 1, name 1, keyword 2, name 2, title.
    std::string token1 = item_text_utf8(app.hwnd, kIdToken1);
    std::string label1 = item_text_utf8(app.hwnd, kIdLabel1);
    std::string token2 = item_text_utf8(app.hwnd, kIdToken2);
    std::string label2 = item_text_utf8(app.hwnd, kIdLabel2);
    std::string title = item_text_utf8(app.hwnd, kIdTitle);
    std::vector<InteractionChoice> choices;
    choices.push_back(InteractionChoice{std::move(token1), std::move(label1), 0});
    choices.push_back(InteractionChoice{std::move(token2), std::move(label2), 0});
    app.engine.configure(std::move(title), std::move(choices));
    app.engine.start();
    set_mode(app, OverlayMode::Results);
    rebuild_overlay(app);
    refresh_results(app);
  } catch (const std::exception&) {
    ::MessageBoxW(app.hwnd, L"请填写互动标题、两个不同口令和两个选项名称。", kCaption,
                  MB_OK | MB_ICONWARNING);
  }
}

void end_interaction(AppContext& app) {
  app.engine.end();
  set_mode(app, OverlayMode::Results);
  rebuild_overlay(app);
  refresh_results(app);
}

void show_results(AppContext& app) {
  set_mode(app, OverlayMode::Results);
  rebuild_overlay(app);
}

void confirm_candidate(AppContext& app) {
  LRESULT index = ::SendDlgItemMessageW(app.hwnd, kIdCandidates, LB_GETCURSEL, 0, 0);
  if (app.candidates_dirty) {
    // Comments arrived since the last refill: list index i no longer names
    // candidate i, and taking it would put a comment the streamer did not
    // pick on the broadcast. Refill now (which clears the selection) and
    // let the streamer choose again.
    refresh_candidates(app);
    app.candidates_dirty = false;
    index = LB_ERR;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= app.engine.candidates.size()) {
    ::MessageBoxW(app.hwnd, L"请先选择一条评论。", kCaption, MB_OK | MB_ICONINFORMATION);
    return;
  }
  app.confirmed_text =
      wide_from_utf8(app.engine.candidates[static_cast<std::size_t>(index)].content);
  set_mode(app, OverlayMode::Comment);
  ::SetDlgItemTextW(app.hwnd, kIdConfirmed, app.confirmed_text.c_str());
  rebuild_overlay(app);
}

void refresh_results(AppContext& app) {
  const InteractionEngine& engine = app.engine;
  if (engine.choices.size() >= 2) {
    ::SetDlgItemTextW(app.hwnd, kIdResult1, result_line_text(engine.choices[0]).c_str());
    ::SetDlgItemTextW(app.hwnd, kIdResult2, result_line_text(engine.choices[1]).c_str());
  }
  ::EnableWindow(::GetDlgItem(app.hwnd, kIdStart), engine.active ? FALSE : TRUE);
  ::EnableWindow(::GetDlgItem(app.hwnd, kIdEnd), engine.active ? TRUE : FALSE);
}

void refresh_candidates(AppContext& app) {
  const HWND list = ::GetDlgItem(app.hwnd, kIdCandidates);
  if (list == nullptr) return;

  std::vector<std::wstring> entries;
  entries.reserve(app.engine.candidates.size());
  std::size_t text_bytes = 0;
  for (const CommentCandidate& candidate : app.engine.candidates) {
    entries.push_back(candidate_entry_text(candidate));
    text_bytes += (entries.back().size() + 1) * sizeof(wchar_t);
  }

  // Up to 200 entries per tick: painting is switched off during the refill
  // and the list reserves its storage once instead of growing per entry.
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
  ::SendMessageW(list, LB_INITSTORAGE, entries.size(), static_cast<LPARAM>(text_bytes));
  for (const std::wstring& entry : entries) {
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
}

}  // namespace tessaly
