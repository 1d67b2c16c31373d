#include "bench_stats.h"

#include <algorithm>
#include <cmath>

namespace transport_bench {

uint64_t NearestRank(const std::vector<uint64_t>& sorted, double percent) {
  if (sorted.empty()) return 0;
  // Rank 1..n; ceil keeps p99 of 100 samples at the 99th, not the 100th.
  double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
  if (rank < 1.0) rank = 1.0;
  const size_t index = std::min(sorted.size(), static_cast<size_t>(rank)) - 1;
  return sorted[index];
}

LatencySummary SummarizeLatency(std::vector<uint64_t> samples) {
  LatencySummary summary;
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.count = samples.size();
  summary.p50 = NearestRank(samples, 50.0);
  summary.p99 = NearestRank(samples, 99.0);
  summary.min = samples.front();
  summary.max = samples.back();
  double total = 0.0;
  for (uint64_t sample : samples) total += static_cast<double>(sample);
  summary.mean = total / static_cast<double>(samples.size());
  return summary;
}

double PerSecond(uint64_t units, uint64_t elapsed_ns) {
  if (elapsed_ns == 0) return 0.0;
  return static_cast<double>(units) * 1e9 / static_cast<double>(elapsed_ns);
}

double Ratio(double measured, double baseline) {
  if (!(baseline > 0.0)) return 0.0;
  return measured / baseline;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  if (values.size() % 2 == 1) return values[mid];
  return (values[mid - 1] + values[mid]) / 2.0;
}

}  // namespace transport_bench
