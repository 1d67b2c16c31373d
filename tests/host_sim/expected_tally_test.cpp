#include "tools/host-sim/core/expected_tally.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/host-sim/core/host_texts.h"

namespace host_sim {
namespace {

tessaly::LiveComment comment(const std::string& id, const std::string& content) {
  return tessaly::LiveComment{id, "viewer", "nick", content, 0};
}

TEST(ExpectedTally, CountsLikeThePanel) {
  ExpectedTally tally("Q", {{"a", "A", 0}, {"b", "B", 0}});
  tally.feed(live_data_text({comment("1", " A "), comment("2", "b"), comment("1", "a")}));
  tally.feed(live_data_text({comment("2", "b")}));  // a repeat in a later text
  tally.feed("{broken");
  tally.feed(live_data_text({comment("3", "ab"), comment("4", "a")}));
  EXPECT_EQ(tally.choices()[0].votes, 2u);
  EXPECT_EQ(tally.choices()[1].votes, 1u);
  EXPECT_EQ(tally.comments_accepted(), 4u);
  EXPECT_EQ(tally.repeats_dropped(), 2u);
}

TEST(ExpectedTally, CloseNoticeEndsTheIntakeWithItsOwnComments) {
  ExpectedTally tally("Q", {{"a", "A", 0}, {"b", "B", 0}});
  const std::string closing =
      "[" + notice_text("OPEN_WIN_CLOSE") + "," + live_data_text({comment("1", "a")}) + "]";
  tally.feed(closing);
  tally.feed(live_data_text({comment("2", "a")}));
  EXPECT_TRUE(tally.closed());
  EXPECT_EQ(tally.total_votes(), 0u);
}

TEST(ExpectedTally, InvalidVoteIsRefused) {
  EXPECT_THROW(ExpectedTally("Q", {{"a", "A", 0}, {" A", "B", 0}}), std::invalid_argument);
}

}  // namespace
}  // namespace host_sim
