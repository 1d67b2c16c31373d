#include "panel/live/message_deduper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <string>

namespace tessaly {
namespace {

// --- Repeats are refused, and refusing does not refresh an id's age ---------

TEST(MessageDeduperRepeats, SecondDeliveryOfAnIdIsRefused) {
  MessageDeduper deduper(20000);
  EXPECT_TRUE(deduper.accept("7001"));
  EXPECT_FALSE(deduper.accept("7001"));
  EXPECT_FALSE(deduper.accept("7001"));
  EXPECT_EQ(deduper.size(), 1u);
}

TEST(MessageDeduperRepeats, RefusalDoesNotMoveTheIdToTheBack) {
  MessageDeduper deduper(2);
  ASSERT_TRUE(deduper.accept("a"));
  ASSERT_TRUE(deduper.accept("b"));
  EXPECT_FALSE(deduper.accept("a"));  // must not make "a" the newest
  EXPECT_TRUE(deduper.accept("c"));   // so "a", still the oldest, goes
  EXPECT_FALSE(deduper.accept("b"));
  EXPECT_TRUE(deduper.accept("a"));
}

TEST(MessageDeduperRepeats, IdsAreComparedByteForByte) {
  MessageDeduper deduper(100);
  EXPECT_TRUE(deduper.accept("abc"));
  EXPECT_TRUE(deduper.accept("ABC"));
  EXPECT_TRUE(deduper.accept("abc "));
  EXPECT_TRUE(deduper.accept("ab"));
  EXPECT_TRUE(deduper.accept(std::string("ab\0c", 4)));
  EXPECT_TRUE(deduper.accept("评论"));
  EXPECT_FALSE(deduper.accept(std::string("ab\0c", 4)));
  EXPECT_FALSE(deduper.accept("评论"));
  EXPECT_EQ(deduper.size(), 6u);
}

// --- Ids that are never accepted ----------------------------------------------

TEST(MessageDeduperRefusals, EmptyIdIsRefusedAndNotRecorded) {
  MessageDeduper deduper(1);
  EXPECT_FALSE(deduper.accept(""));
  EXPECT_EQ(deduper.size(), 0u);
  EXPECT_TRUE(deduper.accept("x"));
  EXPECT_FALSE(deduper.accept(""));
  EXPECT_FALSE(deduper.accept("x"));  // the empty id evicted nothing
}

TEST(MessageDeduperRefusals, ZeroCapacityRefusesEverything) {
  MessageDeduper deduper(0);
  EXPECT_FALSE(deduper.accept("1"));
  EXPECT_FALSE(deduper.accept("2"));
  EXPECT_EQ(deduper.size(), 0u);
}

// --- Taking an id back (its message could not be handled) ---------------------

TEST(MessageDeduperForget, ForgottenIdIsAcceptedAgainAndFreesItsPlace) {
  MessageDeduper deduper(3);
  ASSERT_TRUE(deduper.accept("a"));
  ASSERT_TRUE(deduper.accept("b"));
  ASSERT_TRUE(deduper.accept("c"));
  deduper.forget("c");  // the newest
  deduper.forget("a");  // the oldest
  deduper.forget("x");  // never seen: nothing
  EXPECT_EQ(deduper.size(), 1u);
  EXPECT_TRUE(deduper.accept("c"));
  EXPECT_TRUE(deduper.accept("a"));
  // Three remembered again (b, c, a): the next id pushes out b, the oldest.
  EXPECT_TRUE(deduper.accept("d"));
  EXPECT_TRUE(deduper.accept("b"));
  EXPECT_FALSE(deduper.accept("a"));
}

// --- The window: counted in distinct accepted ids, oldest forgotten first ----

TEST(MessageDeduperWindow, PanelSizedWindowForgetsTheOldestId) {
  MessageDeduper deduper(20000);
  for (int i = 1; i <= 20001; ++i) {
    ASSERT_TRUE(deduper.accept(std::to_string(i))) << i;
  }
  EXPECT_EQ(deduper.size(), 20000u);
  EXPECT_FALSE(deduper.accept("2"));
  EXPECT_FALSE(deduper.accept("20001"));
  EXPECT_TRUE(deduper.accept("1"));  // evicted when 20001 arrived; evicts 2
  EXPECT_TRUE(deduper.accept("2"));  // evicts 3
  EXPECT_FALSE(deduper.accept("4"));
  EXPECT_TRUE(deduper.accept("3"));
  EXPECT_EQ(deduper.size(), 20000u);
}

TEST(MessageDeduperWindow, CapacityOneRemembersOnlyTheLastId) {
  MessageDeduper deduper(1);
  EXPECT_TRUE(deduper.accept("a"));
  EXPECT_FALSE(deduper.accept("a"));
  EXPECT_TRUE(deduper.accept("b"));
  EXPECT_TRUE(deduper.accept("a"));
  EXPECT_EQ(deduper.size(), 1u);
}

// Evicted entries are recycled for new ids; ids of changing lengths (inside
// and beyond the small-string buffer) must come out exactly as they went in.
// Compared against the rules applied literally.
TEST(MessageDeduperWindow, MatchesLiteralRulesOnRandomTraffic) {
  for (std::size_t capacity : {1u, 2u, 5u, 64u}) {
    MessageDeduper deduper(capacity);
    std::deque<std::string> order;
    std::set<std::string> seen;
    std::mt19937 rng(static_cast<std::uint32_t>(capacity));
    for (int step = 0; step < 20000; ++step) {
      // Ids from a pool a little larger than the window, so repeats
      // hit both remembered and forgotten ids; lengths 0 to 40.
      const std::uint32_t n = rng() % (capacity * 2 + 3);
      const std::string id(n % 41, static_cast<char>('a' + n % 26));
      const std::string keyed = id.empty() ? id : id + std::to_string(n);

      bool expected = false;
      if (!keyed.empty() && seen.count(keyed) == 0) {
        expected = true;
        seen.insert(keyed);
        order.push_back(keyed);
        if (order.size() > capacity) {
          seen.erase(order.front());
          order.pop_front();
        }
      }
      ASSERT_EQ(deduper.accept(keyed), expected)
          << "capacity " << capacity << " step " << step << " id " << keyed;
      ASSERT_EQ(deduper.size(), order.size());
    }
  }
}

}  // namespace
}  // namespace tessaly
