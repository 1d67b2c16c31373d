// Building and parsing 256-byte messages (16-byte header, one 236-byte blob),
// in messages a second, against a plain memcpy of the same 256 bytes as the
// floor. Prints each benchmark's time as a multiple of the floor at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Quenlo/message/IPCMessage.h"
#include "Quenlo/message/PickleIterator.h"

namespace {

using Ravoque::IPCMessage;
using Ravoque::PickleIterator;

constexpr std::size_t kWireSize = 256;
constexpr std::size_t kBlobSize = kWireSize - IPCMessage::kHeaderSize - sizeof(int32_t);

std::vector<char> Blob() {
  std::vector<char> blob(kBlobSize);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
  return blob;
}

std::vector<char> Wire() {
  const std::vector<char> blob = Blob();
  IPCMessage m(101);
  m.WriteData(blob.data(), blob.size());
  return std::vector<char>(m.Data(), m.Data() + m.Size());
}

void Count(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kWireSize));
}

void BM_MemcpyFloor(benchmark::State& state) {
  const std::vector<char> src = Wire();
  std::vector<char> dst(kWireSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(src.data());
    std::memcpy(dst.data(), src.data(), kWireSize);
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_Build(benchmark::State& state) {
  const std::vector<char> blob = Blob();
  for (auto _ : state) {
    IPCMessage m(101);
    m.WriteData(blob.data(), blob.size());
    benchmark::DoNotOptimize(m.Data());
    benchmark::ClobberMemory();
  }
  Count(state);
}

// What the pipe reader does per message: find its end, lay a view, read the blob.
void BM_Parse(benchmark::State& state) {
  const std::vector<char> wire = Wire();
  for (auto _ : state) {
    benchmark::DoNotOptimize(wire.data());
    IPCMessage::FrameInfo info;
    IPCMessage::FindNext(wire.data(), wire.data() + wire.size(), &info);
    IPCMessage view(wire.data(), static_cast<std::size_t>(info.messageSize));
    PickleIterator it(view);
    const char* data = nullptr;
    int length = 0;
    it.ReadData(&data, &length);
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(length);
  }
  Count(state);
}

void BM_BuildAndParse(benchmark::State& state) {
  const std::vector<char> blob = Blob();
  for (auto _ : state) {
    IPCMessage m(101);
    m.WriteData(blob.data(), blob.size());
    IPCMessage::FrameInfo info;
    IPCMessage::FindNext(m.Data(), m.Data() + m.Size(), &info);
    IPCMessage view(m.Data(), static_cast<std::size_t>(info.messageSize));
    PickleIterator it(view);
    const char* data = nullptr;
    int length = 0;
    it.ReadData(&data, &length);
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(length);
  }
  Count(state);
}

BENCHMARK(BM_MemcpyFloor);
BENCHMARK(BM_Build);
BENCHMARK(BM_Parse);
BENCHMARK(BM_BuildAndParse);

// Prints as usual and remembers each benchmark's time per message.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        ns_per_message_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
  }
  void PrintRatios() const {
    const auto floor = ns_per_message_.find("BM_MemcpyFloor");
    if (floor == ns_per_message_.end() || floor->second <= 0) return;
    std::printf("\nper message, as a multiple of memcpy of the same %zu bytes:\n", kWireSize);
    for (const auto& entry : ns_per_message_) {
      std::printf("  %-20s %8.1fx\n", entry.first.c_str(), entry.second / floor->second);
    }
  }

 private:
  std::map<std::string, double> ns_per_message_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
