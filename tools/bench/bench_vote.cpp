// Throughput of the comment path on the panel's UI and callback threads:
// MessageDeduper::accept for every delivery, then InteractionEngine::ingest
// for every delivery the deduper lets through. One core, steady state (the
// deduper full at the panel's 20000 ids, the candidate list full at 200).
//
// The feed mixes what a busy broadcast sends during a vote: keyword votes
// with stray case and white space, chatter of varying length (becomes
// candidates), blank comments, and repeated deliveries of recent ids. It also
// times the same rules written the plain way (copy on insert, erase on
// evict, an upper-cased copy per comment) as the baseline, and prints the
// ratio.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "panel/live/interaction_engine.h"
#include "panel/live/message_deduper.h"

namespace {

using tessaly::IngestResult;
using tessaly::InteractionEngine;
using tessaly::LiveComment;
using tessaly::MessageDeduper;

constexpr std::size_t kDeduperCapacity = 20000;  // the panel's
constexpr std::size_t kFeedSize = 1u << 17;      // > capacity: ids come back forgotten

std::vector<LiveComment> make_feed() {
  std::mt19937_64 rng(20240601);
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::vector<std::string> votes = {"1", "2", " 1", "2 ", "1\n", "a", "B", " b "};
  const std::vector<std::string> chatter = {"666",
                                            "主播好",
                                            "hello!",
                                            "来了来了",
                                            "这个选项太难选了吧哈哈哈",
                                            "2333333",
                                            "Where is this stream from?",
                                            "支持二号！！！",
                                            "11",
                                            "我觉得第一个更好，因为它看起来更有意思一点",
                                            "??",
                                            "gg",
                                            "1 2",
                                            "前排围观，今天的互动很有趣，继续加油呀主播"};
  const std::vector<std::string> nicks = {
      "小明", "Luna", "吃瓜群众一号", "夜猫子", "a_long_nickname_2024", "星星"};
  std::vector<LiveComment> feed;
  feed.reserve(kFeedSize);
  std::uint64_t next_id = 7300000000000000000ull;
  for (std::size_t i = 0; i < kFeedSize; ++i) {
    const std::size_t roll = pick(100);
    if (roll < 10 && feed.size() > 64) {
      // Repeated delivery of a recent message.
      feed.push_back(feed[feed.size() - 1 - pick(64)]);
      continue;
    }
    LiveComment c;
    c.msg_id = "@" + std::to_string(next_id) + "_" + std::to_string(pick(1000));
    next_id += 1 + pick(97);
    c.sec_open_id = "u" + std::to_string(pick(5000));
    c.nickname = nicks[pick(nicks.size())];
    if (roll < 55) {
      c.content = votes[pick(votes.size())];
    } else if (roll < 58) {
      c.content = "  ";
    } else {
      c.content = chatter[pick(chatter.size())];
    }
    c.timestamp = 1700000000000 + static_cast<std::int64_t>(i);
    feed.push_back(std::move(c));
  }
  return feed;
}

const std::vector<LiveComment>& feed() {
  static const std::vector<LiveComment> f = make_feed();
  return f;
}

void configure_vote(InteractionEngine& engine) {
  engine.configure("今晚看哪部电影？", {{"1", "科幻片", 0}, {"2", "喜剧片", 0}});
  engine.start();
}

// The same rules written the plain way, for comparison only.
struct PlainDeduper {
  std::size_t capacity;
  std::deque<std::string> order;
  std::unordered_set<std::string> seen;
  bool accept(const std::string& id) {
    if (id.empty() || capacity == 0 || seen.count(id) != 0) return false;
    seen.insert(id);
    order.push_back(id);
    if (order.size() > capacity) {
      seen.erase(order.front());
      order.pop_front();
    }
    return true;
  }
};

struct PlainEngine {
  std::vector<std::string> tokens{"1", "2"};
  std::vector<std::uint64_t> votes{0, 0};
  std::deque<tessaly::CommentCandidate> candidates;
  static std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
  }
  IngestResult ingest(const LiveComment& c) {
    const std::string text = trim(c.content);
    if (text.empty()) return IngestResult::Ignored;
    std::string key = text;
    for (char& ch : key) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (tokens[i] == key) {
        ++votes[i];
        return IngestResult::Vote;
      }
    }
    candidates.push_front({c.msg_id, c.nickname, text});
    while (candidates.size() > InteractionEngine::kMaxCandidates) candidates.pop_back();
    return IngestResult::Candidate;
  }
};

template <class Deduper, class Engine>
void run_pipeline(benchmark::State& state, Deduper& deduper, Engine& engine) {
  const std::vector<LiveComment>& f = feed();
  // Warm up to the steady state: deduper and candidate list full.
  for (const LiveComment& c : f) {
    if (deduper.accept(c.msg_id)) engine.ingest(c);
  }
  std::size_t i = 0;
  std::uint64_t taken = 0;
  for (auto _ : state) {
    const LiveComment& c = f[i];
    i = (i + 1) & (kFeedSize - 1);
    if (deduper.accept(c.msg_id)) {
      benchmark::DoNotOptimize(engine.ingest(c));
      ++taken;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["passed_dedup"] =
      benchmark::Counter(static_cast<double>(taken) / static_cast<double>(state.iterations()));
}

void BM_CommentPath(benchmark::State& state) {
  MessageDeduper deduper(kDeduperCapacity);
  InteractionEngine engine;
  configure_vote(engine);
  run_pipeline(state, deduper, engine);
}
BENCHMARK(BM_CommentPath);

void BM_CommentPathPlainBaseline(benchmark::State& state) {
  PlainDeduper deduper{kDeduperCapacity, {}, {}};
  PlainEngine engine;
  run_pipeline(state, deduper, engine);
}
BENCHMARK(BM_CommentPathPlainBaseline);

// The two halves alone, to see where the time goes.
void BM_DeduperAcceptOnly(benchmark::State& state) {
  const std::vector<LiveComment>& f = feed();
  MessageDeduper deduper(kDeduperCapacity);
  for (const LiveComment& c : f) deduper.accept(c.msg_id);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(deduper.accept(f[i].msg_id));
    i = (i + 1) & (kFeedSize - 1);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DeduperAcceptOnly);

void BM_EngineIngestOnly(benchmark::State& state) {
  const std::vector<LiveComment>& f = feed();
  InteractionEngine engine;
  configure_vote(engine);
  for (const LiveComment& c : f) engine.ingest(c);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine.ingest(f[i]));
    i = (i + 1) & (kFeedSize - 1);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_EngineIngestOnly);

// Console output as usual, plus the comments/s of the two pipelines and their
// ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates_[run.benchmark_name()] = it->second.value;
    }
  }
  void print_summary() {
    const double path = rate("BM_CommentPath");
    const double plain = rate("BM_CommentPathPlainBaseline");
    if (path <= 0 || plain <= 0) return;
    char line[160];
    std::snprintf(
        line, sizeof line,
        "comment path: %.2f million comments/s (plain baseline %.2f million/s, ratio %.2fx)\n",
        path / 1e6, plain / 1e6, path / plain);
    GetOutputStream() << line << std::flush;
  }

 private:
  double rate(const std::string& name) const {
    auto it = rates_.find(name);
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
  reporter.print_summary();
  benchmark::Shutdown();
  return 0;
}
