// session_report.h - what a host-sim run did, whether that is what the
// scenario asked for, and the summary printed at the end.
#ifndef TOOLS_HOST_SIM_CORE_SESSION_REPORT_H
#define TOOLS_HOST_SIM_CORE_SESSION_REPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host_sim {

// The subscriptions every panel must ask for when it connects.
extern const char* const kRequiredSubscriptions[3];

struct VoteCount {
  std::string token;
  std::string label;
  uint64_t expected = 0;  // sent, after de-duplication
  int64_t counted = -1;   // read on the window; -1 when it could not be read
};

struct SessionReport {
  bool demo = false;
  std::string pipe_name;
  bool connected = false;                  // the panel's link came up
  std::vector<std::string> subscriptions;  // event names, in arrival order
  size_t texts_planned = 0;
  size_t texts_sent = 0;       // SendMessage returned 1
  size_t comments_sent = 0;    // comment deliveries in the texts sent, repeats included
  size_t duplicates_sent = 0;  // deliveries of an msg_id sent before
  uint64_t frames = 0;         // overlay frames received
  uint64_t bad_packets = 0;    // packets that were not a 900x180 BGRA frame
  double frames_per_second = 0.0;
  size_t pngs_written = 0;
  bool overlay_saved = false;    // overlay.png written at the end
  int64_t panel_exit_code = -1;  // -1: did not end by itself
  // Demo only.
  std::vector<VoteCount> votes;
  std::string confirmed;              // the comment shown on the overlay
  std::vector<std::string> files;     // files the demo wrote, by name
  std::vector<std::string> problems;  // things that went wrong on the way
};

// Every way in which the run fell short, as English sentences; empty when
// the session went as the scenario said: the panel connected and asked for
// all three subscriptions, every text was sent, frames arrived and were all
// overlay frames, overlay.png was written, the panel ended with 0, and in a
// demo every vote count on the window equals the expected one and a comment
// was confirmed. The report's own `problems` come last.
std::vector<std::string> judge(const SessionReport& report);

// The summary: "key=value" lines (one "failure=" line per failure), then one
// line "summary " followed by the same facts as a JSON object (UTF-8) with
// "ok" true exactly when `failures` is empty. Ends with a line feed.
std::string format_summary(const SessionReport& report, const std::vector<std::string>& failures);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_SESSION_REPORT_H
