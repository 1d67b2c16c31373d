#include "tools/host-sim/core/session_report.h"

#include <gtest/gtest.h>

#include "panel/live/minijson.h"

namespace host_sim {
namespace {

SessionReport good_demo() {
  SessionReport r;
  r.demo = true;
  r.pipe_name = "p";
  r.connected = true;
  r.subscriptions = {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS", "OPEN_WIN_CLOSE"};
  r.texts_planned = r.texts_sent = 10;
  r.frames = 30;
  r.overlay_saved = true;
  r.panel_exit_code = 0;
  r.votes = {{"1", "火锅", 4, 4}, {"2", "烧烤", 3, 3}};
  r.confirmed = "主播好！";
  return r;
}

TEST(SessionReport, GoodSessionHasNoFailures) {
  EXPECT_EQ(judge(good_demo()), std::vector<std::string>());
}

TEST(SessionReport, EachShortfallIsReported) {
  SessionReport r = good_demo();
  r.subscriptions.pop_back();
  r.texts_sent = 9;
  r.bad_packets = 2;
  r.panel_exit_code = -1;
  r.votes[1].counted = 2;
  r.votes[0].counted = -1;
  r.confirmed.clear();
  r.problems = {"the control panel screenshot failed"};
  EXPECT_EQ(judge(r), (std::vector<std::string>{
                          "the panel did not subscribe to OPEN_WIN_CLOSE",
                          "sent 9 of 10 texts",
                          "2 packets were not 900x180 BGRA frames",
                          "Tessaly.exe did not end when asked to close",
                          "votes for 1 (火锅): the window shows nothing readable, expected 4",
                          "votes for 2 (烧烤): the window shows 2, expected 3",
                          "no comment was confirmed for display",
                          "the control panel screenshot failed",
                      }));
}

TEST(SessionReport, NoConnectionNoFramesNoPicture) {
  SessionReport r;
  r.texts_planned = 3;
  EXPECT_EQ(judge(r),
            (std::vector<std::string>{"the panel never connected", "sent 0 of 3 texts",
                                      "no overlay frame arrived", "overlay.png was not written",
                                      "Tessaly.exe did not end when asked to close"}));
}

TEST(SessionReport, SummaryEndsWithAParsableJsonLine) {
  SessionReport r = good_demo();
  r.confirmed = "say \"hi\"\n";
  const std::string summary = format_summary(r, {"x"});
  EXPECT_NE(summary.find("\nfailure=x\n"), std::string::npos);
  EXPECT_NE(summary.find("\nconfirmed=say \"hi\" \n"), std::string::npos);  // one line
  const size_t at = summary.rfind("summary ");
  ASSERT_NE(at, std::string::npos);
  minijson::Value json;
  std::string error;
  ASSERT_TRUE(minijson::parse(summary.substr(at + 8, summary.size() - at - 9), json, error))
      << error;
  EXPECT_FALSE(json.get("ok")->boolean);
  EXPECT_EQ(json.get("confirmed")->text, "say \"hi\"\n");
  EXPECT_EQ(json.get("votes")->items[0].get("counted")->text, "4");
}

}  // namespace
}  // namespace host_sim
