// The control panel driven as a streamer would, in a real Tessaly.exe whose
// fake Quenlo.dll delivers the host's comments from files.
#include <gtest/gtest.h>

#include <sstream>

#include "panel_harness.h"

using namespace panel_test;

namespace {

const std::wstring kConnected = L"已连接Halvory，正在接收互动评论。";
const std::wstring kBadDefinition = L"请填写互动标题、两个不同口令和两个选项名称。";
const std::wstring kNoSelection = L"请先选择一条评论。";

std::string comment(const std::string& id, const std::string& nickname,
                    const std::string& content) {
  return R"({"data":[{"msg_type":2,"msg_id":")" + id + R"(","nickname":")" + nickname +
         R"(","content":")" + content + R"("}]})";
}

class ControlPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return item_text(window, 100) == kConnected; }));
  }

  HWND item(int id) const { return ::GetDlgItem(window, id); }
  bool enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }
  // Posted, not sent: a handler may open a modal box.
  void click(int id) const { ::PostMessageW(item(id), BM_CLICK, 0, 0); }
  void set_text(int id, const wchar_t* text) const {
    ::SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  }
  void send(const std::string& json) { folder.send(std::to_wstring(++serial) + L".json", json); }
  bool shows(int id, const std::wstring& text) const {
    return WaitUntil([&] { return item_text(window, id) == text; });
  }
  LRESULT list(UINT message, WPARAM wparam = 0) const {
    return ::SendMessageW(item(111), message, wparam, 0);
  }
  std::wstring list_entry(int index) const {
    wchar_t text[256] = {};
    ::SendMessageW(item(111), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
  }
  std::wstring box_after_click(int id) const {
    click(id);
    return take_message_box(panel.message_box());
  }

  PanelFolder folder{L"fake_quenlo.dll"};
  PanelProcess panel{folder, L"--pipeName=test --maxChannels=1"};
  HWND window = panel.panel();
  int serial = 0;
};

}  // namespace

TEST_F(ControlPanelTest, StartsIdleSubscribedAndDrawsTheFirstOverlay) {
  EXPECT_TRUE(enabled(106));
  EXPECT_FALSE(enabled(107));
  EXPECT_EQ(item_text(window, 109), L"1  选项一：0 票");
  EXPECT_EQ(item_text(window, 113), L"尚未确认展示内容");
  EXPECT_EQ(window_text(window), L"Tessaly");
  std::vector<std::pair<std::uint32_t, std::string>> sent;  // sent.log: "<type>\t<text>" lines
  std::istringstream log(folder.read(L"sent.log"));
  for (std::string line; std::getline(log, line);) {
    sent.emplace_back(std::stoul(line), line.substr(line.find('\t') + 1));
  }
  EXPECT_EQ(subscriptions_fault(sent, 0, unix_ms()), "");
  EXPECT_TRUE(WaitUntil([&] { return folder.read(L"frame.raw").size() == 648000; }));
}

TEST_F(ControlPanelTest, StartWithEqualKeywordsWarnsAndStartsNothing) {
  set_text(105, L" 1 ");
  EXPECT_EQ(box_after_click(106), kBadDefinition);
  EXPECT_TRUE(enabled(106));
  EXPECT_FALSE(enabled(107));
}

TEST_F(ControlPanelTest, VotesCountWithinATickAndEndReenablesStart) {
  set_text(103, L"a");
  set_text(102, L"苹果");
  click(106);
  ASSERT_TRUE(WaitUntil([&] { return enabled(107) && !enabled(106); }));
  const std::string before = folder.read(L"frame.raw");
  send(comment("m1", "u", " A "));
  send(comment("m1", "u", "A"));  // the same message delivered twice counts once
  send(comment("m2", "u", "a"));
  send(comment("m3", "u", "2"));
  EXPECT_TRUE(shows(109, L"A  苹果：2 票"));
  EXPECT_TRUE(shows(110, L"2  选项二：1 票"));
  EXPECT_TRUE(WaitUntil([&] { return folder.read(L"frame.raw") != before; }));
  click(107);
  EXPECT_TRUE(WaitUntil([&] { return enabled(106) && !enabled(107); }));
  EXPECT_EQ(item_text(window, 109), L"A  苹果：2 票");
}

TEST_F(ControlPanelTest, CandidatesAreListedNewestFirstAndConfirmShowsTheContentOnly) {
  send(comment("m1", "小明", "你好"));
  send(comment("m2", "", " 只有内容 "));
  ASSERT_TRUE(WaitUntil([&] { return list(LB_GETCOUNT) == 2; }));
  EXPECT_EQ(list_entry(0), L"只有内容");
  EXPECT_EQ(list_entry(1), L"小明：你好");

  EXPECT_EQ(box_after_click(112), kNoSelection);
  list(LB_SETCURSEL, 1);
  const std::string before = folder.read(L"frame.raw");
  click(112);
  EXPECT_TRUE(shows(113, L"你好"));
  EXPECT_TRUE(WaitUntil([&] { return folder.read(L"frame.raw") != before; }));

  // A refill after a new comment clears the selection.
  list(LB_SETCURSEL, 0);
  send(comment("m3", "x", "新的"));
  ASSERT_TRUE(WaitUntil([&] { return list(LB_GETCOUNT) == 3; }));
  EXPECT_EQ(box_after_click(112), kNoSelection);
  EXPECT_EQ(item_text(window, 113), L"你好");
}

TEST_F(ControlPanelTest, CloseBoxHidesTheWindowAndCountingGoesOn) {
  click(106);
  ASSERT_TRUE(WaitUntil([&] { return enabled(107); }));
  ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(window); }));
  send(comment("m1", "u", "1"));
  EXPECT_TRUE(shows(109, L"1  选项一：1 票"));
  EXPECT_TRUE(panel.running());

  send(R"({"eventName":"OPEN_WIN_FOCUS"})");
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(window) != FALSE; }));
  send(R"({"eventName":"OPEN_WIN_CLOSE"})");
  EXPECT_EQ(panel.wait_exit(), 0u);
}
