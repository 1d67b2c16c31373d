#include "tools/host-sim/core/synthetic_audience.h"

#include <algorithm>
#include <cmath>

#include "tools/host-sim/core/host_texts.h"

namespace host_sim {
namespace {

const char* const kChineseChatter[] = {
    "主播好！",           "今天的直播好棒", "哈哈哈哈哈",     "我来晚了，错过了什么？",
    "第一次来，已关注",   "这个选择好难啊", "支持主播！",     "声音有点小",
    "从广州来的，大家好", "加油加油",       "这也太好看了吧", "前排围观",
};
const char* const kEnglishChatter[] = {
    "hello from Berlin",
    "nice stream!",
    "lol",
    "first time here, love it",
    "gg",
    "what song is this?",
    "hi chat",
    "this is so hard to pick",
};
const char* const kChineseNames[] = {"小鱼", "阿杰", "星星", "木子",
                                     "晴天", "大白", "橙子", "小林"};
const char* const kEnglishNames[] = {"Alex", "Mia", "Sam", "Lena", "Ken", "Zoe"};

template <typename T, size_t N>
constexpr size_t count_of(T (&)[N]) {
  return N;
}

// splitmix64: small, fast, and the same sequence on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); 0 for a bound of 0.
  uint64_t below(uint64_t bound) { return bound == 0 ? 0 : next() % bound; }

 private:
  uint64_t state_;
};

constexpr double kMaxAudienceMs = 24.0 * 3600.0 * 1000.0;

bool is_share(double value) { return value >= 0.0 && value <= 1.0; }  // false for NaN

uint32_t share_of(double share, uint32_t total) {
  return static_cast<uint32_t>(std::floor(share * total + 0.5));
}

std::string nickname_of(uint32_t viewer, uint32_t chinese_viewers) {
  const bool chinese = viewer < chinese_viewers;
  const uint32_t n = chinese ? viewer : viewer - chinese_viewers;
  const size_t pool = chinese ? count_of(kChineseNames) : count_of(kEnglishNames);
  std::string name = chinese ? kChineseNames[n % pool] : kEnglishNames[n % pool];
  if (n >= pool) name += std::to_string(n / pool + 1);
  return name;
}

// When the j-th delivery is due: evenly spaced at the given rate.
uint32_t at_ms(size_t j, double per_second) {
  return static_cast<uint32_t>(static_cast<double>(j) * 1000.0 / per_second);
}

std::string viewer_id(uint32_t viewer) {
  std::string digits = std::to_string(viewer);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
  return "viewer-" + digits;
}

// A keyword the way viewers type it: as given, in the other letter case, or
// with blanks around it. The panel trims and upper-cases before it compares.
std::string spell_vote(const std::string& keyword, Random& random) {
  std::string text = keyword;
  switch (random.below(4)) {
    case 1:
      for (char& c : text) {
        if (c >= 'a' && c <= 'z')
          c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
          c = static_cast<char>(c - 'A' + 'a');
      }
      break;
    case 2:
      text = " " + text + " ";
      break;
    case 3:
      text += " ";
      break;
    default:
      break;
  }
  return text;
}

}  // namespace

std::string check_audience_options(const AudienceOptions& o) {
  if (o.viewers < 1 || o.viewers > 100000) return "viewers must be from 1 to 100000";
  if (o.comments < 1 || o.comments > 4000000) return "comments must be from 1 to 4000000";
  if (!(o.comments_per_second > 0.0 && o.comments_per_second <= 1000.0)) {
    return "comments per second must be above 0 and at most 1000";
  }
  if (o.keywords.empty() || o.keywords.size() > 6) return "there must be 1 to 6 keywords";
  for (const std::string& keyword : o.keywords) {
    if (keyword.empty()) return "keywords must not be empty";
  }
  if (o.vote_shares.size() != o.keywords.size()) return "there must be one vote share per keyword";
  double sum = 0.0;
  for (double share : o.vote_shares) {
    if (!is_share(share)) return "vote shares must be from 0 to 1";
    sum += share;
  }
  if (sum > 1.0 + 1e-9) return "vote shares add up to more than 1";
  if (!is_share(o.duplicate_share)) return "the duplicate share must be from 0 to 1";
  if (!is_share(o.chinese_share)) return "the Chinese share must be from 0 to 1";
  const double deliveries = o.comments * (1.0 + o.duplicate_share);
  if (deliveries * 1000.0 / o.comments_per_second > kMaxAudienceMs) {
    return "the audience would last more than a day";
  }
  return std::string();
}

std::vector<Delivery> generate_audience(const AudienceOptions& o) {
  Random random(o.seed);

  // What each distinct comment is: a vote for keyword k, or chatter (-1).
  std::vector<uint32_t> votes(o.keywords.size());
  uint32_t vote_total = 0;
  for (size_t k = 0; k < votes.size(); ++k) {
    votes[k] = share_of(o.vote_shares[k], o.comments);
    vote_total += votes[k];
  }
  while (vote_total > o.comments) {  // rounding up several shares can overshoot
    --*std::max_element(votes.begin(), votes.end());
    --vote_total;
  }
  std::vector<int> kinds;
  kinds.reserve(o.comments);
  for (size_t k = 0; k < votes.size(); ++k)
    kinds.insert(kinds.end(), votes[k], static_cast<int>(k));
  kinds.resize(o.comments, -1);
  const uint32_t chatter = o.comments - vote_total;
  uint32_t chinese_left = share_of(o.chinese_share, chatter);
  for (size_t i = kinds.size(); i > 1; --i) std::swap(kinds[i - 1], kinds[random.below(i)]);

  const uint32_t chinese_viewers = share_of(o.chinese_share, o.viewers);
  std::vector<Delivery> deliveries;  // the distinct comments, not yet timed
  deliveries.reserve(o.comments);
  uint32_t chatter_left = chatter;
  for (uint32_t i = 0; i < o.comments; ++i) {
    Delivery d;
    const uint32_t viewer = static_cast<uint32_t>(random.below(o.viewers));
    d.keyword = kinds[i];
    d.comment.msg_id = "sim-" + std::to_string(o.seed) + "-" + std::to_string(i + 1);
    d.comment.sec_open_id = viewer_id(viewer);
    d.comment.nickname = nickname_of(viewer, chinese_viewers);
    if (d.keyword >= 0) {
      d.comment.content = spell_vote(o.keywords[static_cast<size_t>(d.keyword)], random);
    } else {
      // Exactly chinese_left of the remaining chatter_left are Chinese.
      const bool chinese = random.below(chatter_left) < chinese_left;
      if (chinese) {
        --chinese_left;
        d.comment.content = kChineseChatter[random.below(count_of(kChineseChatter))];
      } else {
        d.comment.content = kEnglishChatter[random.below(count_of(kEnglishChatter))];
      }
      --chatter_left;
    }
    deliveries.push_back(std::move(d));
  }

  // Repeats: a random choice of distinct originals, each delivered again
  // after one of the next five originals (or at the end).
  std::vector<uint32_t> originals(o.comments);
  for (uint32_t i = 0; i < o.comments; ++i) originals[i] = i;
  const uint32_t repeats = share_of(o.duplicate_share, o.comments);
  for (uint32_t i = 0; i < repeats; ++i) {
    std::swap(originals[i], originals[i + random.below(o.comments - i)]);
  }
  std::vector<std::vector<uint32_t>> repeats_after(o.comments);
  for (uint32_t i = 0; i < repeats; ++i) {
    const uint32_t original = originals[i];
    const uint64_t after = std::min<uint64_t>(original + random.below(5), o.comments - 1);
    repeats_after[after].push_back(original);
  }

  std::vector<Delivery> ordered;
  ordered.reserve(o.comments + repeats);
  std::vector<int64_t> stamps(o.comments);
  for (uint32_t i = 0; i < o.comments; ++i) {
    ordered.push_back(deliveries[i]);
    Delivery& original = ordered.back();
    original.at_ms = at_ms(ordered.size() - 1, o.comments_per_second);
    original.comment.timestamp = o.start_time_ms + original.at_ms;
    stamps[i] = original.comment.timestamp;
    for (uint32_t repeated : repeats_after[i]) {
      Delivery repeat = deliveries[repeated];
      repeat.duplicate = true;
      repeat.at_ms = at_ms(ordered.size(), o.comments_per_second);
      // The same message: its original's time stamp, sent at most five
      // originals ago, so already known.
      repeat.comment.timestamp = stamps[repeated];
      ordered.push_back(std::move(repeat));
    }
  }
  return ordered;
}

std::vector<ScenarioStep> audience_steps(const std::vector<Delivery>& deliveries) {
  std::vector<ScenarioStep> steps;
  steps.reserve(deliveries.size());
  uint32_t previous = 0;
  for (const Delivery& d : deliveries) {
    steps.push_back(ScenarioStep{d.at_ms - previous, live_data_text({d.comment})});
    previous = d.at_ms;
  }
  return steps;
}

}  // namespace host_sim
