#include "tools/host-sim/core/panel_texts.h"

#include <gtest/gtest.h>

namespace host_sim {
namespace {

TEST(PanelTexts, ResultLineCounts) {
  EXPECT_EQ(votes_in_result_line("1  选项一：0 票"), 0);
  EXPECT_EQ(votes_in_result_line("A  a：b：1234 票"), 1234);  // the label may hold a colon
  EXPECT_EQ(votes_in_result_line("1  选项一：12票"), -1);
  EXPECT_EQ(votes_in_result_line("1  选项一： 票"), -1);
  EXPECT_EQ(votes_in_result_line("1  选项一：x2 票"), -1);
  EXPECT_EQ(votes_in_result_line(""), -1);
}

TEST(PanelTexts, CandidateContentFollowsTheNickname) {
  EXPECT_EQ(content_of_candidate("小鱼：主播好：今天"), "主播好：今天");
  EXPECT_EQ(content_of_candidate("hello: there"), "hello: there");
}

}  // namespace
}  // namespace host_sim
