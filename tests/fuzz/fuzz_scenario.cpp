// Any scenario file either reads into steps that each carry a text, or is
// refused with an error that names the file and a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/host-sim/core/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string contents(reinterpret_cast<const char*>(data), size);
  std::vector<host_sim::ScenarioStep> steps;
  std::string error;
  if (host_sim::parse_scenario(contents, "f.jsonl", steps, error)) {
    if (steps.empty()) std::abort();
    for (const auto& step : steps) {
      if (step.text.empty() || step.delay_ms > host_sim::kMaxStepDelayMs) std::abort();
    }
  } else if (error.compare(0, 8, "f.jsonl:") != 0) {
    std::abort();
  }
  return 0;
}
