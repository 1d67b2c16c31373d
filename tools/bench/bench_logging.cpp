// The cost of one log record on the three roads a record can take:
//   disabled      severity below the minimum: no header, nothing delivered
//   refused       formatted, then dropped by the flood filter (a repeat)
//   delivered     formatted, filtered, joined and handed to a sink
// With fixed providers (no system calls) the figures are the logging core's
// own cost; the "platform" variant adds the real pid/tid/local time/clock.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "BrisqFramework/Common/LogEnvironment.h"
#include "BrisqFramework/Common/LogFloodFilter.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace {

using namespace BrisqFramework;

std::atomic<int64_t> g_now{1000};
uint32_t FixedPid() { return 4242; }
uint32_t FixedTid() { return 77; }
LogTime FixedTime() {
  LogTime t;
  t.year = 2024;
  t.month = 5;
  t.day = 6;
  t.hour = 7;
  t.minute = 8;
  t.second = 9;
  t.millisecond = 123;
  return t;
}
// Never advances: one endless burst, so repeats stay refused.
int64_t FrozenClock() { return g_now.load(std::memory_order_relaxed); }
// Jumps two seconds per reading: every record starts a new burst and passes.
int64_t RacingClock() { return g_now.fetch_add(2000000000, std::memory_order_relaxed); }

const LogEnvironment kFrozen = {&FixedPid, &FixedTid, &FixedTime, &FrozenClock};
const LogEnvironment kRacing = {&FixedPid, &FixedTid, &FixedTime, &RacingClock};

std::atomic<uint64_t> g_sink_bytes{0};
int32_t Sink(int32_t, const char*, int32_t, const char* text) {
  g_sink_bytes.fetch_add(text[0], std::memory_order_relaxed);
  return 1;
}

void Begin(const LogEnvironment* environment) {
  SetLogEnvironment(environment);
  ProcessLogFloodFilter().Clear();
  SetLogOutputHook(&Sink);
}

void End(benchmark::State& state) {
  SetLogOutputHook(nullptr);
  SetLogEnvironment(nullptr);
  ProcessLogFloodFilter().Clear();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_DisabledRecord(benchmark::State& state) {
  Begin(&kFrozen);
  int i = 0;
  for (auto _ : state) {
    LogMessage record(-1);
    record.stream() << "Failed to SendMessage(invalid channel) " << ++i;
  }
  End(state);
}

void BM_RefusedByFloodFilter(benchmark::State& state) {
  Begin(&kFrozen);
  for (int i = 0; i < 3; ++i) BRISQ_LOG_AT(ERROR) << "Failed to Connect(" << 2 << ")";
  for (auto _ : state) {
    BRISQ_LOG_AT(ERROR) << "Failed to Connect(" << 2 << ")";
  }
  End(state);
}

void BM_DeliveredToSink(benchmark::State& state) {
  Begin(&kRacing);
  for (auto _ : state) {
    BRISQ_LOG_AT(ERROR) << "Failed to Connect(" << 2 << ")";
  }
  End(state);
}

// Real providers; distinct texts keep the filter passing every record.
void BM_DeliveredToSinkPlatform(benchmark::State& state) {
  Begin(nullptr);
  int i = 0;
  for (auto _ : state) {
    BRISQ_LOG(INFO) << "[PipeClient] WritePacket " << ++i;
  }
  End(state);
}

BENCHMARK(BM_DisabledRecord);
BENCHMARK(BM_RefusedByFloodFilter);
BENCHMARK(BM_DeliveredToSink);
BENCHMARK(BM_DeliveredToSinkPlatform);

}  // namespace

BENCHMARK_MAIN();
