// synthetic_audience.h - a made-up live audience: viewers who chat in
// Chinese and English, vote with the keywords, and whose comments the host
// sometimes delivers twice.
//
// The mix is exact, not sampled: of `comments` distinct comments,
// round(share * comments) are votes for each keyword, the rest chatter, of
// which round(chinese_share * chatter) are Chinese; round(duplicate_share *
// comments) of them are delivered a second time (same msg_id, same text) a
// few deliveries later. The seed decides only the order, the speakers, the
// phrases and the spelling of votes ("a", "A", " a "), so a run can be
// repeated exactly. Portable and pure.
#ifndef TOOLS_HOST_SIM_CORE_SYNTHETIC_AUDIENCE_H
#define TOOLS_HOST_SIM_CORE_SYNTHETIC_AUDIENCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "panel/live/live_event.h"
#include "tools/host-sim/core/scenario.h"

namespace host_sim {

struct AudienceOptions {
  uint32_t viewers = 40;                        // distinct speakers, 1 to 100000
  uint32_t comments = 150;                      // distinct comments, 1 to 4000000
  double comments_per_second = 25.0;            // deliveries per second, above 0, at most 1000
  std::vector<std::string> keywords{"1", "2"};  // 1 to 6 vote keywords
  std::vector<double> vote_shares{0.3, 0.2};    // one per keyword, each 0-1, sum at most 1
  double duplicate_share = 0.1;                 // of the distinct comments, delivered twice; 0-1
  double chinese_share = 0.7;                   // of the chatter and of the nicknames; 0-1
  uint64_t seed = 20240611;
  int64_t start_time_ms = 0;  // the comments' "timestamp" at offset 0
};

// One message the host delivers.
struct Delivery {
  uint32_t at_ms = 0;  // offset from the first delivery
  tessaly::LiveComment comment;
  int keyword = -1;        // the keyword voted for, or -1 for chatter
  bool duplicate = false;  // a repeat of an earlier delivery
};

// "" when the options can be used, else why not (an English sentence naming
// the field, e.g. "vote shares add up to more than 1").
std::string check_audience_options(const AudienceOptions& options);

// The deliveries in time order; options must pass check_audience_options.
std::vector<Delivery> generate_audience(const AudienceOptions& options);

// One scenario step per delivery (a live_data_text with its one comment),
// the delay being the gap to the delivery before.
std::vector<ScenarioStep> audience_steps(const std::vector<Delivery>& deliveries);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_SYNTHETIC_AUDIENCE_H
