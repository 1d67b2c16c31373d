// The host link's callback, fed events directly on the test thread, with a
// recording client and a message-only window standing in for the panel.
#include "recording_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "panel_harness.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/log_capture.h"
#include "panel/app_context.h"
#include "panel/pipe_callback.h"
#include "panel/window_messages.h"

using namespace tessaly;

namespace {

struct Posted {
  UINT message;
  std::unique_ptr<LiveComment> comment;  // owned, as the window would
};

class PipeCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(app.hwnd, nullptr);
    app.client.reset(&client);
  }
  void TearDown() override { ::DestroyWindow(app.hwnd); }

  void message(const std::string& text) {
    pipe_callback(EVENT_MESSAGE, 1, text.data(), static_cast<uint32_t>(text.size()), &app);
  }

  // Everything posted to the window so far, in order.
  std::vector<Posted> posted() {
    std::vector<Posted> out;
    MSG msg;
    while (::PeekMessageW(&msg, app.hwnd, 0, 0, PM_REMOVE)) {
      if (msg.message < WM_APP) continue;
      out.push_back({msg.message,
                     std::unique_ptr<LiveComment>(msg.message == kMsgComment
                                                      ? reinterpret_cast<LiveComment*>(msg.lParam)
                                                      : nullptr)});
    }
    return out;
  }

  RecordingClient client;
  AppContext app;
};

std::string comment_json(const std::string& id, const std::string& content) {
  return R"({"msg_type_str":"live_comment","msg_id":")" + id + R"(","nickname":"n","content":")" +
         content + R"("})";
}

// Plays the system refusing posts of comments, as Windows does when the
// thread's queue already holds 10000 messages.
bool g_queue_full = false;
BOOL WINAPI post_unless_full(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (g_queue_full && message == kMsgComment) {
    ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return ::PostMessageW(hwnd, message, wparam, lparam);
}

}  // namespace

TEST_F(PipeCallbackTest, ConnectSubscribesToThreeEventsAndPostsConnected) {
  const std::int64_t before = panel_test::unix_ms();
  pipe_callback(EVENT_CONNECTED, 0, nullptr, 0, &app);
  EXPECT_TRUE(app.connected.load());
  EXPECT_EQ(client.sent.size(), 3u);
  EXPECT_EQ(panel_test::subscriptions_fault(client.sent, before, panel_test::unix_ms()), "");
  const auto p = posted();
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].message, kMsgConnected);
}

TEST_F(PipeCallbackTest, LinkChangesKeepConnectedAndPostTheirMessages) {
  const struct {
    IPC_EVENT_TYPE event;
    UINT message;
  } cases[] = {{EVENT_BROKEN, kMsgLinkBroken},
               {EVENT_CONNECTION_RESET, kMsgLinkBroken},
               {EVENT_DISCONNECTED, kMsgHostDisconnected}};
  for (const auto& c : cases) {
    app.connected = true;
    pipe_callback(c.event, 0, nullptr, 0, &app);
    EXPECT_FALSE(app.connected.load());
    const auto p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].message, c.message);
  }
  pipe_callback(EVENT_PACKET, 0, nullptr, 0, &app);
  pipe_callback(static_cast<IPC_EVENT_TYPE>(99), 0, nullptr, 0, &app);
  EXPECT_TRUE(posted().empty());
}

TEST_F(PipeCallbackTest, RepeatedCommentIdsArePostedOnce) {
  message("[" + comment_json("m1", "hello") + "," + comment_json("m1", "again") + "]");
  message(comment_json("m1", "later"));
  message(comment_json("m2", "你好"));
  const auto p = posted();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].comment->content, "hello");
  EXPECT_EQ(p[1].comment->msg_id, "m2");
  EXPECT_EQ(p[1].comment->content, "你好");
}

TEST_F(PipeCallbackTest, FocusComesBeforeCloseAndCloseDropsTheComments) {
  message(R"({"a":{"eventName":"OPEN_WIN_FOCUS"},"b":{"eventName":"OPEN_WIN_CLOSE"},"c":)" +
          comment_json("m1", "x") + "}");
  const auto p = posted();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].message, kMsgFocus);
  EXPECT_EQ(p[1].message, kMsgCloseRequest);
  // The dropped comment was never recorded as seen.
  message(comment_json("m1", "x"));
  EXPECT_EQ(posted().size(), 1u);
}

TEST_F(PipeCallbackTest, UnreadableOrEmptyMessagesAreIgnored) {
  message("{not json");
  const std::string text = comment_json("m1", "x");
  pipe_callback(EVENT_MESSAGE, 1, nullptr, 5, &app);
  pipe_callback(EVENT_MESSAGE, 1, text.data(), 0, &app);
  EXPECT_TRUE(posted().empty());
  // A message while not connected is processed all the same.
  app.connected = false;
  message(text);
  EXPECT_EQ(posted().size(), 1u);
}

TEST_F(PipeCallbackTest, RefusedPostsAreTakenBackSoRedeliveriesCount) {
  test_support::LogCapture capture{test_support::LogClock::kDriven};
  app.post_message = &post_unless_full;
  g_queue_full = true;
  for (int i = 1; i <= 5; ++i) message(comment_json("m" + std::to_string(i), "x"));
  g_queue_full = false;
  EXPECT_TRUE(posted().empty());
  EXPECT_EQ(app.comments_lost, 5u);
  // The running total, at the first loss and whenever it doubles.
  const std::string lost = "Failed to PostMessage(comment), lost so far: ";
  EXPECT_EQ(capture.Messages(), (std::vector<test_support::LogMessage>{
                                    {1, lost + "1"}, {1, lost + "2"}, {1, lost + "4"}}));
  // The host's redelivery of every lost comment counts.
  for (int i = 1; i <= 5; ++i) message(comment_json("m" + std::to_string(i), "again"));
  EXPECT_EQ(posted().size(), 5u);
}

// An allocation failing anywhere in the callback drops the event without an
// exception reaching the library; a comment that did not reach the window is
// not recorded as seen, so the redelivery brings each comment exactly once.
TEST_F(PipeCallbackTest, AllocationFailureDropsTheEventAndKeepsRedeliveriesWhole) {
  test_support::LogCapture capture{test_support::LogClock::kDriven};
  const std::string text = "[" + comment_json("a", "1") + "," + comment_json("b", "2") + "]";
  bool failed = true;
  for (int n = 1; failed; ++n) {
    SCOPED_TRACE(n);
    app.deduper = MessageDeduper(kDedupeCapacity);
    capture.Clear();
    {
      test_support::ScopedAllocationFailure failure(n);
      message(text);
      failed = test_support::AllocationFailed();
    }
    message(text);  // the host delivers it again
    std::multiset<std::string> ids;
    for (const Posted& p : posted()) ids.insert(p.comment->msg_id);
    EXPECT_EQ(ids, (std::multiset<std::string>{"a", "b"}));
    const auto lines = capture.Lines();
    if (failed && !lines.empty() && lines.back().severity == 2) {
      EXPECT_EQ(lines.back().message, "Failed to pipe_callback: out of memory");
    }
  }
}
