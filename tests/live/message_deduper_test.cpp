#include "panel/live/message_deduper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <random>
#include <set>
#include <string>

namespace tessaly {
namespace {

// Offers the ids in turn: '+' for each one accepted, '-' for each one refused.
std::string offer(MessageDeduper& deduper, std::initializer_list<std::string> ids) {
  std::string outcomes;
  for (const std::string& id : ids) outcomes += deduper.accept(id) ? '+' : '-';
  return outcomes;
}

// --- Repeats are refused, and refusing does not refresh an id's age ---------

TEST(MessageDeduperRepeats, SecondDeliveryOfAnIdIsRefused) {
  MessageDeduper deduper(20000);
  EXPECT_EQ(offer(deduper, {"7001", "7001", "7001"}), "+--");
  EXPECT_EQ(deduper.size(), 1u);
}

TEST(MessageDeduperRepeats, RefusalDoesNotMoveTheIdToTheBack) {
  MessageDeduper deduper(2);
  // The refused "a" must not become the newest: "a", still the oldest, makes way for "c".
  EXPECT_EQ(offer(deduper, {"a", "b", "a", "c", "b", "a"}), "++-+-+");
}

TEST(MessageDeduperRepeats, IdsAreComparedByteForByte) {
  MessageDeduper deduper(100);
  const std::string nul("ab\0c", 4);
  EXPECT_EQ(offer(deduper, {"abc", "ABC", "abc ", "ab", nul, "评论", nul, "评论"}), "++++++--");
  EXPECT_EQ(deduper.size(), 6u);
}

// --- Ids that are never accepted ----------------------------------------------

TEST(MessageDeduperRefusals, EmptyIdIsRefusedAndNotRecorded) {
  MessageDeduper deduper(1);
  EXPECT_EQ(offer(deduper, {""}), "-");
  EXPECT_EQ(deduper.size(), 0u);
  EXPECT_EQ(offer(deduper, {"x", "", "x"}), "+--");  // the empty id evicted nothing
}

TEST(MessageDeduperRefusals, ZeroCapacityRefusesEverything) {
  MessageDeduper deduper(0);
  EXPECT_EQ(offer(deduper, {"1", "2"}), "--");
  EXPECT_EQ(deduper.size(), 0u);
}

// --- Taking an id back (its message could not be handled) ---------------------

TEST(MessageDeduperForget, ForgottenIdIsAcceptedAgainAndFreesItsPlace) {
  MessageDeduper deduper(3);
  ASSERT_EQ(offer(deduper, {"a", "b", "c"}), "+++");
  deduper.forget("c");  // the newest
  deduper.forget("a");  // the oldest
  deduper.forget("x");  // never seen: nothing
  EXPECT_EQ(deduper.size(), 1u);
  // c and a come back; with b, c, a remembered, "d" pushes out b, the oldest.
  EXPECT_EQ(offer(deduper, {"c", "a", "d", "b", "a"}), "++++-");
}

// --- The window: counted in distinct accepted ids, oldest forgotten first ----

TEST(MessageDeduperWindow, PanelSizedWindowForgetsTheOldestId) {
  MessageDeduper deduper(20000);
  for (int i = 1; i <= 20001; ++i) {
    ASSERT_TRUE(deduper.accept(std::to_string(i))) << i;
  }
  EXPECT_EQ(deduper.size(), 20000u);
  // 20001 pushed out 1; 1 coming back pushes out 2, and 2 then pushes out 3.
  EXPECT_EQ(offer(deduper, {"2", "20001", "1", "2", "4", "3"}), "--++-+");
  EXPECT_EQ(deduper.size(), 20000u);
}

TEST(MessageDeduperWindow, CapacityOneRemembersOnlyTheLastId) {
  MessageDeduper deduper(1);
  EXPECT_EQ(offer(deduper, {"a", "a", "b", "a"}), "+-++");
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
      // Ids from a pool a little larger than the window, so repeats hit both
      // remembered and forgotten ids; lengths 0 to 40.
      const std::uint32_t n = rng() % (capacity * 2 + 3);
      const std::string id(n % 41, static_cast<char>('a' + n % 26));
      const std::string keyed = id.empty() ? id : id + std::to_string(n);
      const bool expected = !keyed.empty() && seen.insert(keyed).second;
      if (expected) order.push_back(keyed);
      if (order.size() > capacity) {
        seen.erase(order.front());
        order.pop_front();
      }
      ASSERT_EQ(deduper.accept(keyed), expected)
          << "capacity " << capacity << " step " << step << " id " << keyed;
      ASSERT_EQ(deduper.size(), order.size());
    }
  }
}

}  // namespace
}  // namespace tessaly
