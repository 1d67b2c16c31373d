// expected_tally.h - what the panel should count, worked out on the host's
// side from the texts it sent.
//
// Mirrors the panel's intake with the panel's own code: each text is read
// with parse_live_event; a text that asks the window to close ends the
// intake (the panel processes none of its comments and quits); every other
// comment passes a MessageDeduper of the panel's capacity and is fed to an
// InteractionEngine holding the same vote, already started. Valid only for
// texts that the panel receives while that vote is open.
#ifndef TOOLS_HOST_SIM_CORE_EXPECTED_TALLY_H
#define TOOLS_HOST_SIM_CORE_EXPECTED_TALLY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panel/live/interaction_engine.h"
#include "panel/live/message_deduper.h"

namespace host_sim {

class ExpectedTally {
 public:
  // The panel's de-duplication capacity.
  static constexpr size_t kDedupeCapacity = 20000;

  // Configures and starts the vote. Throws std::invalid_argument with the
  // engine's message when the definition is not valid.
  ExpectedTally(const std::string& title, const std::vector<tessaly::InteractionChoice>& choices);

  // Feeds one host text, as the panel would read it.
  void feed(const std::string& text);

  // The choices with their expected votes, in order.
  const std::vector<tessaly::InteractionChoice>& choices() const { return engine_.choices; }
  uint64_t total_votes() const { return engine_.total_votes; }
  size_t comments_accepted() const { return accepted_; }  // past de-duplication
  size_t repeats_dropped() const { return repeats_; }     // refused by de-duplication
  bool closed() const { return closed_; }                 // a close notice was fed

 private:
  tessaly::InteractionEngine engine_;
  tessaly::MessageDeduper deduper_{kDedupeCapacity};
  size_t accepted_ = 0;
  size_t repeats_ = 0;
  bool closed_ = false;
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_EXPECTED_TALLY_H
