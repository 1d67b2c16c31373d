// scenario.h - the steps of a host session and their JSON-lines file form.
//
// A scenario is a list of host texts, each sent after a pause. In a file,
// every line is one step, a JSON object (UTF-8):
//
//   {"delay_ms":250,"text":{"eventName":"OPEN_LIVE_DATA","data":{...}}}
//   {"text":"{\"eventName\":\"OPEN_WIN_FOCUS\"}"}
//
//   "text"      required. A JSON object or array is sent as its compact JSON
//               text (members in ascending key order); a string is sent
//               byte for byte as given, so it may hold any text, valid JSON
//               or not. It must not be empty.
//   "delay_ms"  optional, default 0: milliseconds to wait after the previous
//               step (or after the panel subscribed, for the first step);
//               a whole number from 0 to 3600000.
//
// Other members are refused (they are usually misspellings). Blank lines and
// lines whose first non-blank character is '#' are skipped; a UTF-8 byte
// order mark at the start and a carriage return at the end of a line are
// ignored.
#ifndef TOOLS_HOST_SIM_CORE_SCENARIO_H
#define TOOLS_HOST_SIM_CORE_SCENARIO_H

#include <cstdint>
#include <string>
#include <vector>

namespace host_sim {

// The longest pause one step may ask for: an hour.
constexpr uint32_t kMaxStepDelayMs = 3600000;

struct ScenarioStep {
  uint32_t delay_ms = 0;  // pause before this step's text is sent
  std::string text;       // the host text, sent as one message
};

// Reads a scenario file's contents. `name` is how errors name the file. On
// success fills `steps` and returns true. On the first bad line returns false
// with `error` = "<name>:<line>: <reason>" (lines counted from 1), or
// "<name>: no steps" when the file holds no step at all; `steps` is then
// unspecified.
bool parse_scenario(const std::string& contents, const std::string& name,
                    std::vector<ScenarioStep>& steps, std::string& error);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_SCENARIO_H
