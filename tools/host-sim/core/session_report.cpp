#include "tools/host-sim/core/session_report.h"

#include <algorithm>
#include <cstdio>

#include "panel/live/minijson.h"

namespace host_sim {

const char* const kRequiredSubscriptions[3] = {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS",
                                               "OPEN_WIN_CLOSE"};

namespace {

std::string quoted(const std::string& text) { return "\"" + minijson::escape_string(text) + "\""; }

std::string json_strings(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + quoted(items[i]);
  return out + "]";
}

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out;
}

std::string fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::vector<std::string> judge(const SessionReport& r) {
  std::vector<std::string> failures;
  if (!r.connected) failures.push_back("the panel never connected");
  for (const char* name : kRequiredSubscriptions) {
    if (r.connected &&
        std::find(r.subscriptions.begin(), r.subscriptions.end(), name) == r.subscriptions.end()) {
      failures.push_back(std::string("the panel did not subscribe to ") + name);
    }
  }
  if (r.texts_sent != r.texts_planned) {
    failures.push_back("sent " + std::to_string(r.texts_sent) + " of " +
                       std::to_string(r.texts_planned) + " texts");
  }
  if (r.frames == 0) failures.push_back("no overlay frame arrived");
  if (r.bad_packets != 0) {
    failures.push_back(std::to_string(r.bad_packets) + " packets were not 900x180 BGRA frames");
  }
  if (!r.overlay_saved) failures.push_back("overlay.png was not written");
  if (r.panel_exit_code == -1) {
    failures.push_back("Tessaly.exe did not end when asked to close");
  } else if (r.panel_exit_code != 0) {
    failures.push_back("Tessaly.exe ended with code " + std::to_string(r.panel_exit_code));
  }
  if (r.demo) {
    for (const VoteCount& v : r.votes) {
      if (v.counted != static_cast<int64_t>(v.expected)) {
        failures.push_back(
            "votes for " + v.token + " (" + v.label + "): the window shows " +
            (v.counted < 0 ? std::string("nothing readable") : std::to_string(v.counted)) +
            ", expected " + std::to_string(v.expected));
      }
    }
    if (r.confirmed.empty()) failures.push_back("no comment was confirmed for display");
  }
  failures.insert(failures.end(), r.problems.begin(), r.problems.end());
  return failures;
}

std::string format_summary(const SessionReport& r, const std::vector<std::string>& failures) {
  const bool ok = failures.empty();
  std::string lines;
  // One fact a line: control characters in a value (a comment may hold a
  // line feed) become blanks. The JSON line keeps the values exactly.
  auto line = [&lines](const std::string& key, std::string value) {
    for (char& c : value) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    lines += key + "=" + value + "\n";
  };
  line("ok", ok ? "1" : "0");
  line("pipe", r.pipe_name);
  line("connected", r.connected ? "1" : "0");
  line("subscriptions", join(r.subscriptions));
  line("texts_sent", std::to_string(r.texts_sent));
  line("texts_planned", std::to_string(r.texts_planned));
  line("comments_sent", std::to_string(r.comments_sent));
  line("duplicates_sent", std::to_string(r.duplicates_sent));
  line("frames", std::to_string(r.frames));
  line("bad_packets", std::to_string(r.bad_packets));
  line("fps", fixed1(r.frames_per_second));
  line("pngs_written", std::to_string(r.pngs_written));
  line("panel_exit_code", std::to_string(r.panel_exit_code));
  for (const VoteCount& v : r.votes) {
    line("votes." + v.token, std::to_string(v.counted) + " expected " + std::to_string(v.expected));
  }
  if (r.demo) {
    line("confirmed", r.confirmed);
    line("files", join(r.files));
  }
  for (const std::string& failure : failures) line("failure", failure);

  std::string json = "{\"ok\":" + std::string(ok ? "true" : "false");
  json += ",\"pipe\":" + quoted(r.pipe_name);
  json += ",\"connected\":" + std::string(r.connected ? "true" : "false");
  json += ",\"subscriptions\":" + json_strings(r.subscriptions);
  json += ",\"texts_sent\":" + std::to_string(r.texts_sent);
  json += ",\"texts_planned\":" + std::to_string(r.texts_planned);
  json += ",\"comments_sent\":" + std::to_string(r.comments_sent);
  json += ",\"duplicates_sent\":" + std::to_string(r.duplicates_sent);
  json += ",\"frames\":" + std::to_string(r.frames);
  json += ",\"bad_packets\":" + std::to_string(r.bad_packets);
  json += ",\"fps\":" + fixed1(r.frames_per_second);
  json += ",\"pngs_written\":" + std::to_string(r.pngs_written);
  json += ",\"panel_exit_code\":" + std::to_string(r.panel_exit_code);
  json += ",\"votes\":[";
  for (size_t i = 0; i < r.votes.size(); ++i) {
    const VoteCount& v = r.votes[i];
    json += std::string(i ? "," : "") + "{\"token\":" + quoted(v.token) +
            ",\"label\":" + quoted(v.label) + ",\"expected\":" + std::to_string(v.expected) +
            ",\"counted\":" + std::to_string(v.counted) + "}";
  }
  json += "]";
  if (r.demo) {
    json += ",\"confirmed\":" + quoted(r.confirmed);
    json += ",\"files\":" + json_strings(r.files);
  }
  json += ",\"failures\":" + json_strings(failures) + "}";
  return lines + "summary " + json + "\n";
}

}  // namespace host_sim
