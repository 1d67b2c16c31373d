// The host link's callback, fed events directly on the test thread, with a
// recording client and a message-only window standing in for the panel.
#include "recording_client.h"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace

TEST_F(PipeCallbackTest, ConnectSubscribesToThreeEventsAndPostsConnected) {
  pipe_callback(EVENT_CONNECTED, 0, nullptr, 0, &app);
  EXPECT_TRUE(app.connected.load());
  ASSERT_EQ(client.sent.size(), 3u);
  const char* names[] = {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS", "OPEN_WIN_CLOSE"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(client.sent[i].first, 101u);
    const std::string& text = client.sent[i].second;
    const std::string prefix =
        std::string(R"({"type":"request","reqId":"subscribe-)") + names[i] + "-";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    // The id's time and the time stamp are the same reading of the clock.
    const std::string ms =
        text.substr(prefix.size(), text.find('"', prefix.size()) - prefix.size());
    EXPECT_GT(std::stoll(ms), 1600000000000LL);
    EXPECT_NE(
        text.find(std::string(R"("eventName":")") + names[i] + R"(","timestamp":)" + ms + "}}"),
        std::string::npos)
        << text;
  }
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
