#include "BrisqFramework/Common/LogFloodFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace BrisqFramework {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000 * kMs;

// Feeds `text` at `now` and returns the verdicts as "1"/"0" characters.
std::string Feed(LogFloodFilter& filter, const std::string& text, int64_t start, int64_t step,
                 int times) {
  std::string verdicts;
  for (int i = 0; i < times; ++i) verdicts += filter.Admit(text, start + i * step) ? '1' : '0';
  return verdicts;
}

// --- Repeats within a burst -------------------------------------------------

TEST(FloodRepeats, FiveWithinHalfASecondDeliverThree) {
  LogFloodFilter filter;
  EXPECT_EQ("11100", Feed(filter, "Failed to Open\n", kSecond, 100 * kMs, 5));
}

TEST(FloodRepeats, DeliveredAgainAfterASecondOfSilence) {
  LogFloodFilter filter;
  EXPECT_EQ("11100", Feed(filter, "x\n", kSecond, 100 * kMs, 5));
  // Last record at 1.4 s; 1.1 s of silence.
  EXPECT_EQ("11100", Feed(filter, "x\n", 2500 * kMs, 10 * kMs, 5));
}

TEST(FloodRepeats, TenTextsAreTrackedWithoutEviction) {
  LogFloodFilter filter;
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < LogFloodFilter::kEntries; ++i) {
      EXPECT_EQ(round < 3, filter.Admit("text " + std::to_string(i), kSecond + round * 10 + i))
          << "round " << round << " text " << i;
    }
  }
}

// --- The burst gap ------------------------------------------------------------

TEST(FloodGap, ExactlyOneSecondEndsTheBurst) {
  LogFloodFilter filter;
  EXPECT_EQ("111", Feed(filter, "x", kSecond, 1, 3));
  EXPECT_TRUE(filter.Admit("x", kSecond + 2 + kSecond));
}

TEST(FloodGap, JustUnderOneSecondContinuesTheBurst) {
  LogFloodFilter filter;
  EXPECT_EQ("111", Feed(filter, "x", kSecond, 1, 3));
  EXPECT_FALSE(filter.Admit("x", kSecond + 2 + kSecond - 1));
}

// The gap is measured from the last record of any text: other texts keep the
// burst of a flooding text alive.
TEST(FloodGap, OtherTextsKeepTheBurstAlive) {
  LogFloodFilter filter;
  EXPECT_EQ("111", Feed(filter, "flood", kSecond, 1, 3));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_TRUE(filter.Admit("tick " + std::to_string(i), kSecond + i * 600 * kMs));
  }
  EXPECT_FALSE(filter.Admit("flood", kSecond + 3500 * kMs));
}

TEST(FloodGap, NewBurstForgetsEveryText) {
  LogFloodFilter filter;
  EXPECT_EQ("111", Feed(filter, "a", kSecond, 1, 3));
  EXPECT_EQ("111", Feed(filter, "b", kSecond + 10, 1, 3));
  EXPECT_TRUE(filter.Admit("c", 3 * kSecond));
  EXPECT_EQ("111", Feed(filter, "a", 3 * kSecond + 1, 1, 3));
  EXPECT_EQ("111", Feed(filter, "b", 3 * kSecond + 10, 1, 3));
}

// A clock at 0 is a valid time, not "no record yet": the burst still counts.
TEST(FloodGap, FirstRecordAtTimeZeroStartsABurst) {
  LogFloodFilter filter;
  EXPECT_EQ("11100", Feed(filter, "x", 0, 0, 5));
}

// --- Eviction when all 10 entries are in use ---------------------------------

TEST(FloodEviction, EleventhTextEvictsLeastRecentWhichThenCountsFromOne) {
  LogFloodFilter filter;
  int64_t now = kSecond;
  EXPECT_EQ("111", Feed(filter, "t0", now, 1, 3));
  now += 10;
  for (int i = 1; i <= 9; ++i) EXPECT_TRUE(filter.Admit("t" + std::to_string(i), now++));
  EXPECT_TRUE(filter.Admit("t10", now++));  // replaces t0, the least recent
  // t0 is new again: three more deliveries, then refused.
  EXPECT_EQ("1110", Feed(filter, "t0", now, 1, 4));
}

TEST(FloodEviction, RecentUseProtectsAnEntry) {
  LogFloodFilter filter;
  int64_t now = kSecond;
  for (int i = 0; i <= 9; ++i) EXPECT_TRUE(filter.Admit("t" + std::to_string(i), now++));
  EXPECT_TRUE(filter.Admit("t0", now++));   // t0 becomes the most recent; t1 the least
  EXPECT_TRUE(filter.Admit("t10", now++));  // must evict t1, not t0
  // t0 kept its count of 2: one more delivery, then refused.
  EXPECT_EQ("10", Feed(filter, "t0", now, 1, 2));
}

// Records in the same nanosecond tie: the first entry in table order goes.
TEST(FloodEviction, TiesEvictTheFirstInTableOrder) {
  LogFloodFilter filter;
  for (int i = 0; i <= 9; ++i) {
    EXPECT_EQ("11", Feed(filter, "t" + std::to_string(i), kSecond, 0, 2));
  }
  EXPECT_TRUE(filter.Admit("t10", kSecond));            // replaces t0
  EXPECT_EQ("10", Feed(filter, "t9", kSecond, 0, 2));   // t9 kept its count of 2
  EXPECT_EQ("111", Feed(filter, "t0", kSecond, 0, 3));  // t0 counts from 1 again
}

}  // namespace
}  // namespace BrisqFramework
