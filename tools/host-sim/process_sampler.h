// process_sampler.h - the panel's memory and handle count, for soak runs.
#ifndef TOOLS_HOST_SIM_PROCESS_SAMPLER_H
#define TOOLS_HOST_SIM_PROCESS_SAMPLER_H

#include <windows.h>

#include <cstdint>
#include <string>

namespace host_sim {

struct ProcessSample {
  uint64_t working_set_bytes = 0;
  uint64_t private_bytes = 0;
  bool memory_known = false;
  uint64_t handles = 0;
  // Where the count came from: "GetProcessHandleCount", or "system handle
  // table" when that call says nothing (Wine answers 0 for every process);
  // empty when neither works.
  std::string handle_source;
};

// Reads the numbers of `process` (a handle with query rights) whose id is
// `process_id`. Fields it cannot read stay as they are in a fresh sample.
ProcessSample sample_process(HANDLE process, DWORD process_id);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_PROCESS_SAMPLER_H
