#pragma once

// The synthetic comment stream of the panel benchmark: one live comment per
// host message, each with a message id never used before in the run. Four
// of five comments are votes (alternately for tokens "1" and "2" of the
// panel's default vote); the fifth is chat that becomes a candidate, so the
// panel also refreshes its candidate list as it would in a real broadcast.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "quenlo_host.h"

namespace panel_host {

class CommentStream {
 public:
  // The next comment's JSON text; `is_vote` tells whether it counts.
  std::string next(bool* is_vote);
  // A comment that votes for token "1".
  std::string next_vote();

  // Sends `count` comments through `host`, `rate` per second (0: as fast
  // as the host's SendMessage returns), catching up in batches after each
  // 1 ms sleep. `sent` and `votes` count as it goes (readable from other
  // threads). Returns the seconds the sending took; stops early when a
  // send fails.
  double send(QuenloHost& host, std::uint64_t count, double rate, std::atomic<std::uint64_t>& sent,
              std::atomic<std::uint64_t>& votes);

 private:
  std::uint64_t serial_ = 0;
};

}  // namespace panel_host
