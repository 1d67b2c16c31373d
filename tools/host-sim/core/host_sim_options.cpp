#include "tools/host-sim/core/host_sim_options.h"

#include <cerrno>
#include <cstdlib>

namespace host_sim {

const char kUsage[] =
    "Usage: host-sim [options]\n"
    "\n"
    "Plays the streaming host for Tessaly: opens a Quenlo pipe server\n"
    "(Quenlo.dll beside host-sim.exe), starts Tessaly.exe with the launch\n"
    "options that name the pipe, answers its subscribe requests, sends it a\n"
    "live audience, and saves the overlay frames it sends back as PNG files.\n"
    "With no options it runs the built-in audience once and writes overlay.png\n"
    "into the current folder.\n"
    "\n"
    "Panel and pipe:\n"
    "  --tessaly PATH           the panel program (default: Tessaly.exe beside host-sim.exe)\n"
    "  --pipe NAME              pipe name (default: host-sim-<process id>-<ticks>)\n"
    "  --channels N             media channels, passed as --maxChannels (default 1)\n"
    "  --halvory-version TEXT   passed as --halvoryVersion (default 1.0.0)\n"
    "  --layout-mode N          passed as --layoutMode (default 0)\n"
    "  --connect-timeout-ms N   how long to wait for the panel to connect and\n"
    "                           subscribe (default 30000)\n"
    "\n"
    "Audience (the built-in synthetic one unless --scenario is given):\n"
    "  --scenario FILE          send the texts of a JSON-lines file, one step a line:\n"
    "                             {\"delay_ms\":250,\"text\":{...host JSON...}}\n"
    "                             {\"text\":\"any text, sent byte for byte\"}\n"
    "                           \"text\" is required (an object or array is sent as\n"
    "                           compact JSON, a string as it is); \"delay_ms\" (0 to\n"
    "                           3600000, default 0) is the pause before the step.\n"
    "                           Blank lines and lines starting with # are skipped.\n"
    "  --viewers N              distinct viewers (default 40)\n"
    "  --comments N             distinct comments (default 150)\n"
    "  --rate N                 comments delivered per second (default 25)\n"
    "  --keywords A,B,...       vote keywords, 1 to 6 (default 1,2)\n"
    "  --vote-share F,F,...     share of the comments voting for each keyword\n"
    "                           (default 0.3,0.2; at most 1 in all)\n"
    "  --duplicates F           share of comments the host delivers twice, same\n"
    "                           msg_id (default 0.1)\n"
    "  --chinese F              share of Chinese chatter and nicknames; the rest\n"
    "                           is English (default 0.7)\n"
    "  --seed N                 the audience's random seed (default 20240611)\n"
    "\n"
    "Capture and output:\n"
    "  --out DIR                folder for overlay.png (rewritten whenever the\n"
    "                           picture changes, and at exit) (default: .)\n"
    "  --sequence N             also write every Nth frame as DIR\\frames\\frame-NNNNNN.png\n"
    "  --log-file PATH          the library's log file\n"
    "  --print-log              copy the library's log lines to stderr\n"
    "  --sample-every N         every N seconds print one line \"sample t=...\" with the\n"
    "                           panel's working set, private bytes and handle count\n"
    "                           and the comments and frames so far (for soak runs)\n"
    "\n"
    "Demo:\n"
    "  --demo DIR               drive the control panel as a streamer would: set a\n"
    "                           title and two options, Start, let the audience vote,\n"
    "                           End, Show results, confirm a comment. Writes into DIR\n"
    "                           overlay-idle.png, overlay-results.png,\n"
    "                           overlay-comment.png, control-panel.png, overlay.png\n"
    "                           and quenlo.log (unless --log-file). Needs exactly two\n"
    "                           keywords. The votes on the window must equal the\n"
    "                           votes sent after de-duplication.\n"
    "  --title TEXT             the vote's title (default 今晚一起玩什么？)\n"
    "  --labels A,B             the two options' names (default 火锅,烧烤)\n"
    "\n"
    "  --help                   this text\n"
    "\n"
    "While it runs a status line shows the link, texts sent, frames received,\n"
    "frames a second and the age of the last frame. At the end it prints a\n"
    "summary as key=value lines and one JSON line starting with \"summary \".\n"
    "\n"
    "Exit codes: 0 the session went as the scenario said; 1 it did not (the\n"
    "summary's \"failures\" say why); 2 bad options or scenario file; 3 Tessaly.exe,\n"
    "Quenlo.dll or the output folder unusable.\n";

namespace {

bool parse_u64(const std::string& text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

bool parse_u32(const std::string& text, uint32_t& out) {
  uint64_t value = 0;
  if (!parse_u64(text, UINT32_MAX, value)) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool parse_i32(const std::string& text, int32_t& out) {
  const bool negative = !text.empty() && text[0] == '-';
  uint64_t value = 0;
  if (!parse_u64(negative ? text.substr(1) : text, negative ? 2147483648u : 2147483647u, value)) {
    return false;
  }
  out = static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
  return true;
}

bool parse_double(const std::string& text, double& out) {
  if (text.empty() || text[0] == ' ' || text[0] == '\t') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size();
}

std::vector<std::string> split_list(const std::string& text) {
  std::vector<std::string> items;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    items.push_back(text.substr(begin, comma - begin));
    if (comma == std::string::npos) return items;
    begin = comma + 1;
  }
}

bool parse_doubles(const std::string& text, std::vector<double>& out) {
  std::vector<double> values;
  for (const std::string& item : split_list(text)) {
    double value = 0;
    if (!parse_double(item, value)) return false;
    values.push_back(value);
  }
  out = values;
  return true;
}

// A text value; only path-like options refuse an empty one.
bool take_text(const std::string& value, std::string& field, bool may_be_empty) {
  field = value;
  return may_be_empty || !value.empty();
}

// Stores one option's value; false when the value is bad. `known` tells
// whether the option exists at all.
bool store(const std::string& name, const std::string& value, HostSimOptions& o, bool& known) {
  known = true;
  AudienceOptions& a = o.audience;
  if (name == "--pipe") return take_text(value, o.pipe_name, false);
  if (name == "--tessaly") return take_text(value, o.tessaly_path, false);
  if (name == "--halvory-version") return take_text(value, o.halvory_version, true);
  if (name == "--scenario") return take_text(value, o.scenario_path, false);
  if (name == "--out") return take_text(value, o.out_dir, false);
  if (name == "--log-file") return take_text(value, o.log_file, false);
  if (name == "--title") return take_text(value, o.title, true);
  if (name == "--demo") {
    o.demo = true;
    return take_text(value, o.out_dir, false);
  }
  if (name == "--keywords") {
    a.keywords = split_list(value);
    return true;
  }
  if (name == "--labels") {
    o.labels = split_list(value);
    return true;
  }
  if (name == "--channels") return parse_u32(value, o.channels) && o.channels >= 1;
  if (name == "--sequence") return parse_u32(value, o.sequence_every) && o.sequence_every >= 1;
  if (name == "--layout-mode") return parse_i32(value, o.layout_mode);
  if (name == "--connect-timeout-ms") return parse_u32(value, o.connect_timeout_ms);
  if (name == "--sample-every") return parse_u32(value, o.sample_every_s) && o.sample_every_s >= 1;
  if (name == "--viewers") return parse_u32(value, a.viewers);
  if (name == "--comments") return parse_u32(value, a.comments);
  if (name == "--seed") return parse_u64(value, UINT64_MAX, a.seed);
  if (name == "--rate") return parse_double(value, a.comments_per_second);
  if (name == "--vote-share") return parse_doubles(value, a.vote_shares);
  if (name == "--duplicates") return parse_double(value, a.duplicate_share);
  if (name == "--chinese") return parse_double(value, a.chinese_share);
  known = false;
  return false;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, HostSimOptions& o, std::string& error) {
  bool out_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help") {
      o.help = true;
      return true;
    }
    if (name == "--print-log") {
      o.print_log = true;
      continue;
    }
    bool known = false;
    const bool has_value = i + 1 < args.size();
    const std::string value = has_value ? args[i + 1] : std::string();
    if (store(name, value, o, known)) {
      if (!has_value) {  // an empty text is a value only when it was given
        error = name + " needs a value";
        return false;
      }
      out_given = out_given || name == "--out";
      ++i;
      continue;
    }
    if (!known) {
      error = "unknown option " + name + " (see --help)";
    } else if (!has_value) {
      error = name + " needs a value";
    } else {
      error = "bad value for " + name + ": " + value;
    }
    return false;
  }

  const std::string audience_problem = check_audience_options(o.audience);
  if (o.scenario_path.empty() && !audience_problem.empty()) {
    error = "audience: " + audience_problem;
    return false;
  }
  if (o.demo) {
    if (out_given) {
      error = "--demo names the output folder; leave out --out";
      return false;
    }
    if (o.audience.keywords.size() != 2 || o.labels.size() != 2) {
      error = "--demo drives a window with two options: give two --keywords and two --labels";
      return false;
    }
  }
  return true;
}

}  // namespace host_sim
