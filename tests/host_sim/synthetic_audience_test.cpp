#include "tools/host-sim/core/synthetic_audience.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "panel/live/interaction_engine.h"
#include "tools/host-sim/core/expected_tally.h"

namespace host_sim {
namespace {

AudienceOptions thousand() {
  AudienceOptions o;
  o.comments = 1000;
  o.viewers = 50;
  o.comments_per_second = 200;
  o.keywords = {"a", "2"};
  o.vote_shares = {0.3, 0.2};
  o.duplicate_share = 0.1;
  o.chinese_share = 0.7;
  o.seed = 7;
  o.start_time_ms = 1700000000000;
  return o;
}

TEST(SyntheticAudience, SharesAreExact) {
  const AudienceOptions o = thousand();
  const std::vector<Delivery> deliveries = generate_audience(o);
  ASSERT_EQ(deliveries.size(), 1100u);
  std::map<int, int> kinds;
  int chinese_chatter = 0;
  for (const Delivery& d : deliveries) {
    if (d.duplicate) continue;
    ++kinds[d.keyword];
    if (d.keyword >= 0) {
      // However it is spelled, the panel reads it as the keyword.
      EXPECT_EQ(tessaly::InteractionEngine::normalized_token(d.comment.content),
                tessaly::InteractionEngine::normalized_token(o.keywords[d.keyword]));
    } else if (static_cast<unsigned char>(d.comment.content[0]) >= 0x80) {
      ++chinese_chatter;
    }
  }
  EXPECT_EQ(kinds[0], 300);
  EXPECT_EQ(kinds[1], 200);
  EXPECT_EQ(kinds[-1], 500);
  EXPECT_EQ(chinese_chatter, 350);
}

TEST(SyntheticAudience, RepeatsFollowTheirOriginalUnchanged) {
  const std::vector<Delivery> deliveries = generate_audience(thousand());
  std::map<std::string, const Delivery*> originals;
  size_t repeats = 0;
  for (const Delivery& d : deliveries) {
    auto found = originals.find(d.comment.msg_id);
    if (!d.duplicate) {
      EXPECT_EQ(found, originals.end()) << "msg_id reused: " << d.comment.msg_id;
      originals[d.comment.msg_id] = &d;
      continue;
    }
    ++repeats;
    ASSERT_NE(found, originals.end()) << "repeat before its original";
    EXPECT_EQ(d.comment.content, found->second->comment.content);
    EXPECT_EQ(d.comment.sec_open_id, found->second->comment.sec_open_id);
    EXPECT_EQ(d.comment.timestamp, found->second->comment.timestamp);
  }
  EXPECT_EQ(repeats, 100u);
  EXPECT_EQ(originals.size(), 1000u);
}

TEST(SyntheticAudience, PanelCountsEachVoteOnceDespiteRepeats) {
  const AudienceOptions o = thousand();
  ExpectedTally tally("Q", {{"a", "A", 0}, {"2", "B", 0}});
  for (const ScenarioStep& step : audience_steps(generate_audience(o))) tally.feed(step.text);
  EXPECT_EQ(tally.choices()[0].votes, 300u);
  EXPECT_EQ(tally.choices()[1].votes, 200u);
  EXPECT_EQ(tally.repeats_dropped(), 100u);
}

TEST(SyntheticAudience, PacedAtTheRateAndRepeatable) {
  const AudienceOptions o = thousand();
  const std::vector<Delivery> deliveries = generate_audience(o);
  const std::vector<ScenarioStep> steps = audience_steps(deliveries);
  uint64_t elapsed = 0;
  for (const ScenarioStep& step : steps) elapsed += step.delay_ms;
  EXPECT_EQ(elapsed, deliveries.back().at_ms);
  EXPECT_EQ(deliveries.back().at_ms, 1099u * 1000u / 200u);

  const std::vector<Delivery> again = generate_audience(o);
  AudienceOptions other = o;
  other.seed = 8;
  const std::vector<Delivery> reseeded = generate_audience(other);
  size_t same_order = 0;
  for (size_t i = 0; i < deliveries.size(); ++i) {
    EXPECT_EQ(again[i].comment.content, deliveries[i].comment.content);
    same_order += reseeded[i].keyword == deliveries[i].keyword;
  }
  EXPECT_LT(same_order, deliveries.size());
}

TEST(SyntheticAudience, RoundingNeverOvershootsTheComments) {
  AudienceOptions o = thousand();
  o.comments = 3;
  o.keywords = {"1", "2", "3", "4"};
  o.vote_shares = {0.25, 0.25, 0.25, 0.25};  // each rounds 0.75 up to 1
  o.duplicate_share = 1.0;
  EXPECT_EQ(generate_audience(o).size(), 6u);
}

TEST(SyntheticAudience, OptionsOutOfRangeAreRefused) {
  EXPECT_EQ(check_audience_options(AudienceOptions{}), "");
  const auto refused = [](const char* problem, void (*change)(AudienceOptions&)) {
    AudienceOptions o;
    change(o);
    EXPECT_EQ(check_audience_options(o), problem);
  };
  refused("vote shares add up to more than 1", [](auto& o) { o.vote_shares = {0.7, 0.4}; });
  refused("there must be one vote share per keyword", [](auto& o) { o.vote_shares = {0.5}; });
  refused("vote shares must be from 0 to 1", [](auto& o) { o.vote_shares = {NAN, 0}; });
  refused("the duplicate share must be from 0 to 1", [](auto& o) { o.duplicate_share = -0.1; });
  refused("keywords must not be empty", [](auto& o) { o.keywords = {"1", ""}; });
  refused("comments per second must be above 0 and at most 1000",
          [](auto& o) { o.comments_per_second = 0; });
  refused("the audience would last more than a day",
          [](auto& o) { o.comments_per_second = 0.001; });
  refused("viewers must be from 1 to 100000", [](auto& o) { o.viewers = 0; });
}

}  // namespace
}  // namespace host_sim
