// bench_stats.h - the arithmetic behind the transport benchmark's figures:
// latency percentiles, rates and ratios. Portable; no Windows calls.
#ifndef TRANSPORT_BENCH_BENCH_STATS_H
#define TRANSPORT_BENCH_BENCH_STATS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace transport_bench {

// Summary of a set of latency samples in nanoseconds. All fields are 0 for
// an empty set.
struct LatencySummary {
  size_t count = 0;
  uint64_t p50 = 0;
  uint64_t p99 = 0;
  uint64_t min = 0;
  uint64_t max = 0;
  double mean = 0.0;
};

// Nearest-rank percentile of an ascending set: the smallest sample that at
// least `percent` per cent of the samples do not exceed. 0 for an empty set.
uint64_t NearestRank(const std::vector<uint64_t>& sorted, double percent);

// Sorts the samples (taken by value) and summarises them.
LatencySummary SummarizeLatency(std::vector<uint64_t> samples);

// `units` per second over `elapsed_ns`; 0 when no time elapsed.
double PerSecond(uint64_t units, uint64_t elapsed_ns);

// measured / baseline; 0 when the baseline is not positive (no figure).
double Ratio(double measured, double baseline);

// Median of a set of doubles (the mean of the middle two for an even count);
// 0 for an empty set.
double Median(std::vector<double> values);

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_BENCH_STATS_H
