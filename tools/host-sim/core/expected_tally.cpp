#include "tools/host-sim/core/expected_tally.h"

#include "panel/live/live_event.h"

namespace host_sim {

ExpectedTally::ExpectedTally(const std::string& title,
                             const std::vector<tessaly::InteractionChoice>& choices) {
  engine_.configure(title, choices);
  engine_.start();
}

void ExpectedTally::feed(const std::string& text) {
  if (closed_) return;
  tessaly::ParsedLiveEvent event;
  std::string error;
  if (!tessaly::parse_live_event(text, event, error)) return;
  if (event.window_closed) {
    closed_ = true;
    return;
  }
  for (const tessaly::LiveComment& comment : event.comments) {
    if (!deduper_.accept(comment.msg_id)) {
      ++repeats_;
      continue;
    }
    ++accepted_;
    engine_.ingest(comment);
  }
}

}  // namespace host_sim
