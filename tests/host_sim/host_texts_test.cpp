#include "tools/host-sim/core/host_texts.h"

#include <gtest/gtest.h>

#include "panel/live/live_event.h"

namespace host_sim {
namespace {

TEST(HostTexts, PanelReadsLiveDataBackUnchanged) {
  tessaly::LiveComment a{"m\"1", "viewer-1", "小鱼", "  say \"hi\"\\ 你好\n", 1700000000123};
  tessaly::LiveComment b{"m2", "viewer-2", "", "2", -5};
  tessaly::ParsedLiveEvent event;
  std::string error;
  ASSERT_TRUE(tessaly::parse_live_event(live_data_text({a, b}), event, error)) << error;
  ASSERT_EQ(event.comments.size(), 2u);
  EXPECT_EQ(event.comments[0].msg_id, a.msg_id);
  EXPECT_EQ(event.comments[0].nickname, a.nickname);
  EXPECT_EQ(event.comments[0].content, a.content);
  EXPECT_EQ(event.comments[0].timestamp, a.timestamp);
  EXPECT_EQ(event.comments[1].timestamp, -5);
  EXPECT_FALSE(event.window_closed);
  EXPECT_FALSE(event.window_focused);
}

TEST(HostTexts, NoticesSetOnlyTheirFlag) {
  tessaly::ParsedLiveEvent event;
  std::string error;
  ASSERT_TRUE(tessaly::parse_live_event(notice_text("OPEN_WIN_FOCUS"), event, error));
  EXPECT_TRUE(event.window_focused);
  EXPECT_FALSE(event.window_closed);
  ASSERT_TRUE(tessaly::parse_live_event(notice_text("OPEN_WIN_CLOSE"), event, error));
  EXPECT_TRUE(event.window_closed);
}

// The answer to the OPEN_WIN_CLOSE subscription must not itself read as a
// close notice, or answering would shut the panel down.
TEST(HostTexts, SubscribeRequestIsReadAndItsAnswerIsInert) {
  const std::string text = tessaly::make_subscribe_request("subscribe-OPEN_WIN_CLOSE-1700000000000",
                                                           "OPEN_WIN_CLOSE", 1700000000000);
  SubscribeRequest request;
  ASSERT_TRUE(read_subscribe_request(text, request));
  EXPECT_EQ(request.request_id, "subscribe-OPEN_WIN_CLOSE-1700000000000");
  EXPECT_EQ(request.event_name, "OPEN_WIN_CLOSE");
  EXPECT_EQ(request.timestamp, 1700000000000);

  tessaly::ParsedLiveEvent event;
  std::string error;
  ASSERT_TRUE(tessaly::parse_live_event(subscribe_answer(request), event, error));
  EXPECT_FALSE(event.window_closed);
  EXPECT_FALSE(event.window_focused);
  EXPECT_TRUE(event.comments.empty());
}

TEST(HostTexts, OtherTextsAreNotSubscribeRequests) {
  SubscribeRequest request;
  EXPECT_FALSE(read_subscribe_request("not json", request));
  EXPECT_FALSE(read_subscribe_request(notice_text("OPEN_WIN_FOCUS"), request));
  EXPECT_FALSE(
      read_subscribe_request("{\"type\":\"request\",\"reqId\":\"r\",\"method\":\"x.other\","
                             "\"params\":{\"eventName\":\"E\"}}",
                             request));
  EXPECT_FALSE(
      read_subscribe_request("{\"type\":\"request\",\"reqId\":\"r\",\"method\":\"x."
                             "subscribeEvent\",\"params\":{\"eventName\":\"\"}}",
                             request));
}

}  // namespace
}  // namespace host_sim
