#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "panel/live/live_event.h"

namespace tessaly {

// One choice of a vote. All texts are UTF-8.
struct InteractionChoice {
  std::string token;        // what a comment must equal after normalization; stored normalized
  std::string label;        // shown for the choice; stored trimmed
  std::uint64_t votes = 0;  // votes counted for this choice in the current vote
};

// A recent comment that was not a vote, offered to the streamer for display.
struct CommentCandidate {
  std::string msg_id;
  std::string nickname;
  std::string content;  // trimmed at both ends, letter case kept
};

// What became of one comment fed to InteractionEngine::ingest.
enum class IngestResult : int {
  Ignored = 0,    // empty after trimming; nothing changed
  Vote = 1,       // counted for a choice
  Candidate = 2,  // added to the front of the candidate list
};

// The keyword vote. Holds state and rules only; the control panel configures
// it, starts and ends votes, feeds it comments and reads its fields directly.
//
// No lock: every call and every read of the fields happens on the panel's UI
// thread.
//
// Text rules, fixed and independent of any locale: white space is the six
// ASCII bytes space, \t, \n, \v, \f and \r; upper-casing changes only the
// bytes a-z. Every other byte, including each byte of a multi-byte UTF-8
// character, is left alone, so full-width letters and the ideographic space
// are neither folded nor trimmed.
class InteractionEngine {
 public:
  // The most recent non-vote comments kept in `candidates`.
  static constexpr std::size_t kMaxCandidates = 200;

  // Title "请选择一个选项", choices "1" ("选项一") and "2" ("选项二") with no
  // votes, no candidates, not active.
  InteractionEngine();

  // Validates and normalizes a new vote definition and, only if all of it is
  // valid, installs it: tokens normalized, title and labels trimmed, all
  // counts zero, not active; the candidate list is kept. Throws
  // std::invalid_argument with the first problem found, checked in this
  // order: "title is required", "choices must contain 2 to 6 items", then per
  // choice in order "choice token and label are required" or "choice tokens
  // must be unique". On a throw the engine is unchanged.
  void configure(std::string title, std::vector<InteractionChoice> choices);

  // Opens a vote: every count becomes 0 (also when a vote is already open).
  void start();

  // Closes the vote; counts, title, choices and candidates stay readable.
  void end();

  // Feeds one comment. Its content, trimmed, is Ignored when empty; while a
  // vote is open it is a Vote when its upper-cased form equals a choice's
  // token exactly; anything else becomes a Candidate at the front of the
  // list, the oldest beyond kMaxCandidates being dropped. Throws only on
  // memory exhaustion.
  IngestResult ingest(const LiveComment& comment);

  // The normalization shared by tokens and comments: trimmed, then a-z
  // upper-cased.
  static std::string normalized_token(std::string_view text);

  // Read directly by the window and the overlay (UI thread).
  std::string title;                        // the question, trimmed
  std::vector<InteractionChoice> choices;   // 2 to 6, tokens pairwise distinct
  std::deque<CommentCandidate> candidates;  // newest first, at most kMaxCandidates
  std::uint64_t total_votes = 0;            // always the sum of choices' votes
  bool active = false;                      // a vote is open
};

}  // namespace tessaly
