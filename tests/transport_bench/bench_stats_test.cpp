#include "bench_stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace transport_bench {
namespace {

std::vector<uint64_t> OneTo(uint64_t n) {
  std::vector<uint64_t> values;
  for (uint64_t i = 1; i <= n; ++i) values.push_back(i);
  return values;
}

// A percentile off by one rank shifts p99 onto the single worst sample.
TEST(BenchStatsTest, PercentilesUseTheNearestRank) {
  EXPECT_EQ(NearestRank(OneTo(100), 99.0), 99u);
  EXPECT_EQ(NearestRank(OneTo(100), 50.0), 50u);
  EXPECT_EQ(NearestRank(OneTo(1000), 99.0), 990u);
  EXPECT_EQ(NearestRank(OneTo(3), 50.0), 2u);
  EXPECT_EQ(NearestRank({7}, 99.0), 7u);
  EXPECT_EQ(NearestRank({7}, 0.0), 7u);
  EXPECT_EQ(NearestRank({}, 50.0), 0u);
}

TEST(BenchStatsTest, SummarySortsItsSamples) {
  const LatencySummary summary = SummarizeLatency({900, 100, 300, 200, 500});
  EXPECT_EQ(summary.count, 5u);
  EXPECT_EQ(summary.p50, 300u);
  EXPECT_EQ(summary.p99, 900u);
  EXPECT_EQ(summary.min, 100u);
  EXPECT_EQ(summary.max, 900u);
  EXPECT_DOUBLE_EQ(summary.mean, 400.0);
  EXPECT_EQ(SummarizeLatency({}).count, 0u);
}

// No figure must come out as infinity or NaN when a measurement is empty.
TEST(BenchStatsTest, RatesAndRatiosWithoutABaseAreZero) {
  EXPECT_DOUBLE_EQ(PerSecond(1000, 500000000), 2000.0);
  EXPECT_DOUBLE_EQ(PerSecond(1000, 0), 0.0);
  EXPECT_DOUBLE_EQ(Ratio(3.0, 4.0), 0.75);
  EXPECT_DOUBLE_EQ(Ratio(3.0, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(Median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_DOUBLE_EQ(Median({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_DOUBLE_EQ(Median({}), 0.0);
}

}  // namespace
}  // namespace transport_bench
