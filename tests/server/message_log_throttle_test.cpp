// The throttle of the server's per-message log line: pure logic on
// performance-counter readings, so the clock is driven by hand.
#include "Quenlo/MessageLogThrottle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Quenlo::MessageLogThrottle;

constexpr int64_t kFrequency = 10000000;  // a common 10 MHz counter
constexpr int64_t kSecond = kFrequency;

TEST(MessageLogThrottle, FirstMessageOnlyStartsTheClock) {
  MessageLogThrottle throttle;
  EXPECT_FALSE(throttle.ShouldLog(5 * kSecond, kFrequency));
  // Measured from the first message, not from the start of the counter.
  EXPECT_FALSE(throttle.ShouldLog(7 * kSecond, kFrequency));
  EXPECT_TRUE(throttle.ShouldLog(7 * kSecond + 1, kFrequency));
}

TEST(MessageLogThrottle, AtMostOneLinePerTwoSecondsMeasuredFromTheLastLine) {
  MessageLogThrottle throttle;
  const int64_t t0 = 100;
  ASSERT_FALSE(throttle.ShouldLog(t0, kFrequency));
  EXPECT_FALSE(throttle.ShouldLog(t0 + kSecond, kFrequency));
  EXPECT_FALSE(throttle.ShouldLog(t0 + 2 * kSecond, kFrequency));  // exactly 2 s: not more
  EXPECT_TRUE(throttle.ShouldLog(t0 + 2 * kSecond + 1, kFrequency));
  // Suppressed messages do not move the clock; logged ones do.
  EXPECT_FALSE(throttle.ShouldLog(t0 + 3 * kSecond, kFrequency));
  EXPECT_FALSE(throttle.ShouldLog(t0 + 4 * kSecond, kFrequency));
  EXPECT_TRUE(throttle.ShouldLog(t0 + 4 * kSecond + 2, kFrequency));
}

TEST(MessageLogThrottle, LongSilenceStillLogsWithoutOverflow) {
  // elapsed * 1e9 would pass 2^63 after about 15 minutes at 10 MHz.
  MessageLogThrottle throttle;
  ASSERT_FALSE(throttle.ShouldLog(1, kFrequency));
  EXPECT_TRUE(throttle.ShouldLog(1 + 3600 * kSecond, kFrequency));
  EXPECT_TRUE(throttle.ShouldLog(1 + 3600 * kSecond + 400LL * 24 * 3600 * kSecond, kFrequency));
  // A 3 GHz counter (time-stamp-counter based systems).
  MessageLogThrottle fast;
  ASSERT_FALSE(fast.ShouldLog(1, 3000000000LL));
  EXPECT_TRUE(fast.ShouldLog(1 + 7000000000LL, 3000000000LL));
}

TEST(MessageLogThrottle, ClockGoingBackOrNoFrequencyLogsNothing) {
  MessageLogThrottle throttle;
  ASSERT_FALSE(throttle.ShouldLog(50 * kSecond, kFrequency));
  EXPECT_FALSE(throttle.ShouldLog(10 * kSecond, kFrequency));
  EXPECT_FALSE(throttle.ShouldLog(90 * kSecond, 0));
}

TEST(MessageLogThrottle, RacingCallersGetOneLineBetweenThem) {
  MessageLogThrottle throttle;
  ASSERT_FALSE(throttle.ShouldLog(1, kFrequency));
  std::atomic<int> lines{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 1000; ++k) lines += throttle.ShouldLog(1 + 3 * kSecond, kFrequency);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(lines.load(), 1);
}

}  // namespace
