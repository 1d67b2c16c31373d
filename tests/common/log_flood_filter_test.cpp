#include "BrisqFramework/Common/LogFloodFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace BrisqFramework {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000 * kMs;

class FloodRepeats : public ::testing::Test {
 protected:
  // Feeds `text` `times` times from `start` on, `step` apart; the verdicts as "1"/"0".
  std::string Feed(const std::string& text, int64_t start, int64_t step, int times) {
    std::string verdicts;
    for (int i = 0; i < times; ++i) verdicts += filter.Admit(text, start + i * step) ? '1' : '0';
    return verdicts;
  }
  LogFloodFilter filter;
};
using FloodGap = FloodRepeats;
using FloodEviction = FloodRepeats;

TEST_F(FloodRepeats, FiveWithinHalfASecondDeliverThree) {
  EXPECT_EQ("11100", Feed("Failed to Open\n", kSecond, 100 * kMs, 5));
}

TEST_F(FloodRepeats, DeliveredAgainAfterASecondOfSilence) {
  EXPECT_EQ("11100", Feed("x\n", kSecond, 100 * kMs, 5));
  // Last record at 1.4 s; 1.1 s of silence.
  EXPECT_EQ("11100", Feed("x\n", 2500 * kMs, 10 * kMs, 5));
}

TEST_F(FloodRepeats, TenTextsAreTrackedWithoutEviction) {
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < LogFloodFilter::kEntries; ++i) {
      EXPECT_EQ(round < 3, filter.Admit("text " + std::to_string(i), kSecond + round * 10 + i))
          << "round " << round << " text " << i;
    }
  }
}

TEST_F(FloodGap, ExactlyOneSecondEndsTheBurst) {
  EXPECT_EQ("111", Feed("x", kSecond, 1, 3));
  EXPECT_TRUE(filter.Admit("x", kSecond + 2 + kSecond));
}

TEST_F(FloodGap, JustUnderOneSecondContinuesTheBurst) {
  EXPECT_EQ("111", Feed("x", kSecond, 1, 3));
  EXPECT_FALSE(filter.Admit("x", kSecond + 2 + kSecond - 1));
}

// The gap is measured from the last record of any text: other texts keep the
// burst of a flooding text alive.
TEST_F(FloodGap, OtherTextsKeepTheBurstAlive) {
  EXPECT_EQ("111", Feed("flood", kSecond, 1, 3));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_TRUE(filter.Admit("tick " + std::to_string(i), kSecond + i * 600 * kMs));
  }
  EXPECT_FALSE(filter.Admit("flood", kSecond + 3500 * kMs));
}

TEST_F(FloodGap, NewBurstForgetsEveryText) {
  EXPECT_EQ("111", Feed("a", kSecond, 1, 3));
  EXPECT_EQ("111", Feed("b", kSecond + 10, 1, 3));
  EXPECT_TRUE(filter.Admit("c", 3 * kSecond));
  EXPECT_EQ("111", Feed("a", 3 * kSecond + 1, 1, 3));
  EXPECT_EQ("111", Feed("b", 3 * kSecond + 10, 1, 3));
}

// A clock at 0 is a valid time, not "no record yet": the burst still counts.
TEST_F(FloodGap, FirstRecordAtTimeZeroStartsABurst) { EXPECT_EQ("11100", Feed("x", 0, 0, 5)); }

TEST_F(FloodEviction, EleventhTextEvictsLeastRecentWhichThenCountsFromOne) {
  int64_t now = kSecond;
  EXPECT_EQ("111", Feed("t0", now, 1, 3));
  now += 10;
  for (int i = 1; i <= 9; ++i) EXPECT_TRUE(filter.Admit("t" + std::to_string(i), now++));
  EXPECT_TRUE(filter.Admit("t10", now++));  // replaces t0, the least recent
  // t0 is new again: three more deliveries, then refused.
  EXPECT_EQ("1110", Feed("t0", now, 1, 4));
}

TEST_F(FloodEviction, RecentUseProtectsAnEntry) {
  int64_t now = kSecond;
  for (int i = 0; i <= 9; ++i) EXPECT_TRUE(filter.Admit("t" + std::to_string(i), now++));
  EXPECT_TRUE(filter.Admit("t0", now++));   // t0 becomes the most recent; t1 the least
  EXPECT_TRUE(filter.Admit("t10", now++));  // must evict t1, not t0
  // t0 kept its count of 2: one more delivery, then refused.
  EXPECT_EQ("10", Feed("t0", now, 1, 2));
}

// Records in the same nanosecond tie: the first entry in table order goes.
TEST_F(FloodEviction, TiesEvictTheFirstInTableOrder) {
  for (int i = 0; i <= 9; ++i) {
    EXPECT_EQ("11", Feed("t" + std::to_string(i), kSecond, 0, 2));
  }
  EXPECT_TRUE(filter.Admit("t10", kSecond));    // replaces t0
  EXPECT_EQ("10", Feed("t9", kSecond, 0, 2));   // t9 kept its count of 2
  EXPECT_EQ("111", Feed("t0", kSecond, 0, 3));  // t0 counts from 1 again
}

}  // namespace
}  // namespace BrisqFramework
