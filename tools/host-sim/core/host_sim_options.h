// host_sim_options.h - host-sim's command line.
//
// Parsed from UTF-8 arguments so that the rules can be tested anywhere; the
// program converts its wide command line first. kUsage lists every option.
#ifndef TOOLS_HOST_SIM_CORE_HOST_SIM_OPTIONS_H
#define TOOLS_HOST_SIM_CORE_HOST_SIM_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host-sim/core/synthetic_audience.h"

namespace host_sim {

extern const char kUsage[];

struct HostSimOptions {
  bool help = false;
  std::string pipe_name;  // empty: a name of this run's own
  uint32_t channels = 1;
  std::string tessaly_path;  // empty: Tessaly.exe beside host-sim.exe
  std::string halvory_version = "1.0.0";
  int32_t layout_mode = 0;
  std::string scenario_path;  // empty: the built-in synthetic audience
  AudienceOptions audience;
  std::string out_dir;          // empty: the current folder
  uint32_t sequence_every = 0;  // write every Nth frame; 0: none
  bool demo = false;            // drive the window; out_dir is the demo folder
  std::string title = "今晚一起玩什么？";
  std::vector<std::string> labels{"火锅", "烧烤"};  // one per keyword, for the window
  std::string log_file;  // the library's log file; empty: none (demo: in out_dir)
  uint32_t connect_timeout_ms = 30000;
  uint32_t linger_ms = 1500;  // capture after the last text
  bool print_log = false;
  uint32_t sample_every_s = 0;  // print the panel's memory and handles every N s; 0: never
};

// Reads `args` (without the program name). Returns false with `error` set to
// a one-line English message for an unknown option, a missing or bad value,
// or options that do not go together. --help sets `help` and stops reading.
bool parse_options(const std::vector<std::string>& args, HostSimOptions& options,
                   std::string& error);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_HOST_SIM_OPTIONS_H
