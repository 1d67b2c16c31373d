// Throughput of reading host event texts: tessaly::parse_live_event (JSON
// reader plus the walk that picks out comments) against the DOM parse of two
// general-purpose libraries on the same bytes. After the run it prints the
// ratios of the live-event reader to each of them.
//
// Texts: one comment in the host's envelope (about 330 bytes) and a batch of
// 50 comments with Chinese content in a nested envelope (about 14.5 KB). Each
// comment object carries the eight members a host comment typically has.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wclass-memaccess"
#endif
#include <rapidjson/document.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#include <nlohmann/json.hpp>

#include "panel/live/live_event.h"
#include "panel/live/minijson.h"

namespace {

const char* const kPhrases[] = {
    "\xE6\x94\xAF\xE6\x8C\x81\xE4\xB8\x80\xE5\x8F\xB7\xE9\x80\x89\xE6\x89\x8B\xEF\xBC"
    "\x81",  // 支持一号选手！
    "2",
    "\xE4\xB8\xBB\xE6\x92\xAD\xE5\xA5\xBD\xE5\x8E\x89\xE5\xAE\xB3\xEF\xBC\x8C\xE4\xBB"
    "\x8A\xE5\xA4\xA9"
    "\xE7\x9A\x84\xE6\xAD\x8C\xE5\x94\xB1\xE5\xBE\x97\xE7\x9C\x9F\xE5\xA5\xBD\xE5\x90"
    "\xAC",                                  // 主播好厉害，今天的歌唱得真好听
    "\xE9\x80\x89\xE4\xBA\x8C\xE5\x8F\xB7",  // 选二号
    "\xE5\x93\x88\xE5\x93\x88\xE5\x93\x88\xE5\x93\x88 \\ud83d\\ude00",  // 哈哈哈哈 😀
    "1",
    "\xE8\xBF\x99\xE4\xB8\xAA\xE9\x97\xAE\xE9\xA2\x98\xE6\x88\x91\xE8\xA7\x89\xE5\xBE"
    "\x97\xE5\xBA\x94"
    "\xE8\xAF\xA5\xE9\x80\x89 "
    "A\xEF\xBC\x8C\xE7\x90\x86\xE7\x94\xB1\xE6\x98\xAF\xE2\x80\xA6\xE2\x80\xA6",
};
const char* const kNicknames[] = {
    "\xE5\xB0\x8F\xE6\x98\x8E\xE5\x90\x8C\xE5\xAD\xA6",  // 小明同学
    "\xE5\xA4\x9C\xE7\x8C\xAB\xE5\xAD\x90",              // 夜猫子
    "Lucky_\xE5\xB0\x8F\xE7\xBA\xA2",                    // Lucky_小红
    "\xE4\xB8\x80\xE5\x8F\xAA\xE5\x92\xB8\xE9\xB1\xBC",  // 一只咸鱼
};

std::string comment_object(int i) {
  char id[64];
  std::snprintf(id, sizeof id, "7301234567890%06d_%d", 123456 + i * 7, i);
  char user[64];
  std::snprintf(user, sizeof user, "3f1c9a7e-52d4-4b0e-9a61-%012d", 700000 + i * 13);
  std::string out = "{\"msg_type_str\":\"live_comment\",\"msg_type\":2,\"msg_id\":\"";
  out += id;
  out += "\",\"sec_open_id\":\"";
  out += user;
  out += "\",\"nickname\":\"";
  out += kNicknames[i % 4];
  out += "\",\"avatar_url\":\"https://p3.example.com/avatar/";
  out += user + 24;
  out += ".jpeg\",\"content\":\"";
  out += kPhrases[i % 7];
  out += "\",\"timestamp\":";
  out += std::to_string(1700000000123LL + i * 37);
  out += "}";
  return out;
}

std::string one_comment_text() {
  return "{\"type\":\"event\",\"eventName\":\"OPEN_LIVE_DATA\",\"data\":[" + comment_object(0) +
         "]}";
}

std::string batch_text() {
  std::string out =
      "{\"type\":\"event\",\"eventName\":\"OPEN_LIVE_DATA\",\"timestamp\":1700000000123,"
      "\"data\":{\"roomId\":\"7301234567890123456\",\"seq\":88123,\"payload\":{\"count\":50,"
      "\"messages\":[";
  for (int i = 0; i < 50; ++i) {
    if (i > 0) out += ",";
    out += comment_object(i);
  }
  out += "]}}}";
  return out;
}

const std::string& text_for(int which) {
  static const std::string one = one_comment_text();
  static const std::string batch = batch_text();
  return which == 0 ? one : batch;
}

void label(benchmark::State& state, int which) {
  const std::string& text = text_for(which);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.SetLabel((which == 0 ? "one comment, " : "50 comments, ") + std::to_string(text.size()) +
                 " B");
}

void BM_LiveEvent(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  tessaly::ParsedLiveEvent event;
  std::string error;
  for (auto _ : state) {
    const bool ok = tessaly::parse_live_event(text, event, error);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(event.comments.data());
  }
  if (event.comments.size() != (state.range(0) == 0 ? 1u : 50u)) state.SkipWithError("wrong count");
  label(state, static_cast<int>(state.range(0)));
}

void BM_Minijson(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  std::string error;
  for (auto _ : state) {
    minijson::Value value;
    const bool ok = minijson::parse(text, value, error);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(value.members.size());
  }
  label(state, static_cast<int>(state.range(0)));
}

void BM_RapidJsonDom(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(document.HasParseError());
    benchmark::DoNotOptimize(document.MemberCount());
  }
  label(state, static_cast<int>(state.range(0)));
}

void BM_NlohmannJson(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    nlohmann::json document = nlohmann::json::parse(text.begin(), text.end());
    benchmark::DoNotOptimize(document.size());
  }
  label(state, static_cast<int>(state.range(0)));
}

BENCHMARK(BM_LiveEvent)->Arg(0)->Arg(1);
BENCHMARK(BM_Minijson)->Arg(0)->Arg(1);
BENCHMARK(BM_RapidJsonDom)->Arg(0)->Arg(1);
BENCHMARK(BM_NlohmannJson)->Arg(0)->Arg(1);

// Prints as usual and keeps each run's bytes per second for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (run.run_type == Run::RT_Iteration && it != run.counters.end()) {
        rates_[run.benchmark_name()] = it->second.value;
      }
    }
  }

  void PrintRatios() const {
    const char* const texts[] = {"/0", "/1"};
    const char* const names[] = {"one comment", "50 comments"};
    std::printf("\nlive-event reader throughput and ratios (MB/s = 10^6 bytes/s)\n");
    for (int i = 0; i < 2; ++i) {
      const double ours = rate("BM_LiveEvent", texts[i]);
      const double reader = rate("BM_Minijson", texts[i]);
      const double rapid = rate("BM_RapidJsonDom", texts[i]);
      const double nlohmann = rate("BM_NlohmannJson", texts[i]);
      if (ours <= 0 || rapid <= 0 || nlohmann <= 0) continue;
      std::printf(
          "%-12s parse_live_event %7.1f MB/s | minijson::parse %7.1f | RapidJSON DOM %7.1f | "
          "nlohmann %7.1f || vs nlohmann %.2fx (aim >= 2), vs RapidJSON %.2fx (aim >= 0.5)\n",
          names[i], ours / 1e6, reader / 1e6, rapid / 1e6, nlohmann / 1e6, ours / nlohmann,
          ours / rapid);
    }
  }

 private:
  double rate(const std::string& name, const char* arg) const {
    const auto it = rates_.find(name + arg);
    return it == rates_.end() ? 0.0 : it->second;
  }

  std::map<std::string, double> rates_;
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
