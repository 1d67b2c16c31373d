// The control panel's handlers on a real panel window inside the test process,
// for cases a user cannot time from outside.
#include <gtest/gtest.h>

#include <future>

#include "panel_harness.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/log_capture.h"
#include "panel/app_context.h"
#include "panel/panel_commands.h"
#include "panel/window_messages.h"
#include "panel/window_proc.h"

using namespace tessaly;

namespace {

// Answers the next message box of this process from another thread; yields
// its text.
std::future<std::wstring> answer_next_box() {
  return std::async(std::launch::async, [] {
    return panel_test::take_message_box(panel_test::find_message_box(::GetCurrentProcessId()));
  });
}

class PanelCommandsTest : public ::testing::Test {
 protected:
  // The window works on the context it is created with; g_app stays unset.
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassExW(&wc);  // already registered by an earlier case: fine
    ASSERT_NE(::CreateWindowExW(0, kWindowClass, L"Tessaly", WS_CAPTION, 0, 0, 860, 660, nullptr,
                                nullptr, wc.hInstance, &app),
              nullptr);
  }
  void TearDown() override {
    app.closing = true;
    ::DestroyWindow(app.hwnd);
  }

  std::wstring list_entry(int index) {
    wchar_t text[256] = {};
    ::SendDlgItemMessageW(app.hwnd, kIdCandidates, LB_GETTEXT, index,
                          reinterpret_cast<LPARAM>(text));
    return text;
  }

  AppContext app;
};

}  // namespace

TEST_F(PanelCommandsTest, ControlsTakeTheFontsOfTheirOwnContext) {
  ASSERT_NE(app.title_font.Get(), nullptr);
  ASSERT_NE(app.ui_font.Get(), nullptr);
  const HWND heading = ::GetWindow(app.hwnd, GW_CHILD);
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(heading, WM_GETFONT, 0, 0)),
            app.title_font.Get());
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendDlgItemMessageW(app.hwnd, kIdTitle, WM_GETFONT, 0, 0)),
            app.ui_font.Get());
}

// A comment that arrives between a refill and the click shifts every
// candidate: the selected row must not be mapped onto the wrong comment.
TEST_F(PanelCommandsTest, ConfirmOnAnOutOfDateListRefillsAndAsksAgain) {
  app.engine.ingest({"m1", "", "a", "picked"});
  refresh_candidates(app);
  ::SendDlgItemMessageW(app.hwnd, kIdCandidates, LB_SETCURSEL, 0, 0);
  app.engine.ingest({"m2", "", "b", "newer"});
  app.candidates_dirty = true;

  auto box = answer_next_box();
  confirm_candidate(app);
  EXPECT_EQ(box.get(), L"请先选择一条评论。");
  EXPECT_EQ(app.confirmed_text, L"");
  EXPECT_FALSE(app.candidates_dirty);
  EXPECT_EQ(list_entry(0), L"b：newer");

  // With an up-to-date list the selected row is the confirmed comment.
  ::SendDlgItemMessageW(app.hwnd, kIdCandidates, LB_SETCURSEL, 1, 0);
  confirm_candidate(app);
  EXPECT_EQ(app.confirmed_text, L"picked");
  EXPECT_TRUE(app.overlay_mode == OverlayMode::Comment);
}

TEST_F(PanelCommandsTest, EntriesWithoutNicknameOrWithBadUtf8) {
  EXPECT_EQ(candidate_entry_text({"m", "", "内容"}), L"内容");
  EXPECT_EQ(candidate_entry_text({"m", "昵称", "bad\xff"}), L"");
  app.engine.ingest({"m1", "", "n", "bad\xff"});
  refresh_candidates(app);
  EXPECT_EQ(::SendDlgItemMessageW(app.hwnd, kIdCandidates, LB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(list_entry(0), L"");
}

// Every allocation of a comment's handling fails in turn: the message is
// dropped inside window_proc (no exception reaches the system's dispatch)
// and the window goes on with the next one.
TEST_F(PanelCommandsTest, AllocationFailureDropsOnlyThatMessage) {
  test_support::LogCapture capture{test_support::LogClock::kDriven};
  bool failed = true;
  for (int n = 1; failed; ++n) {
    SCOPED_TRACE(n);
    auto* posted = new LiveComment{"m" + std::to_string(n), "", "n", "text"};
    test_support::ScopedAllocationFailure failure(n);
    EXPECT_EQ(::SendMessageW(app.hwnd, kMsgComment, 0, reinterpret_cast<LPARAM>(posted)), 0);
    failed = test_support::AllocationFailed();
  }
  EXPECT_GE(capture.Count(2, "Failed to window_proc: out of memory"), 1);
  ::SendMessageW(app.hwnd, kMsgComment, 0,
                 reinterpret_cast<LPARAM>(new LiveComment{"last", "", "n", "after"}));
  refresh_candidates(app);
  EXPECT_EQ(list_entry(0), L"n：after");  // newest first
}
