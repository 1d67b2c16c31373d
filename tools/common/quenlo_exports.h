// quenlo_exports.h - Quenlo.dll's exports bound by ordinal, as a host and the
// panel program bind them (the ordinals never move). Shared by host-sim,
// test-host, the benchmarks and the tests that load the built DLL.
#ifndef TOOLS_COMMON_QUENLO_EXPORTS_H
#define TOOLS_COMMON_QUENLO_EXPORTS_H

#include <windows.h>

#include <cstdint>

#include "Quenlo/Quenlo.h"

namespace quenlo_tools {

// The export at `ordinal` of `module`, as a `Function`; null when missing.
template <typename Function>
Function BindOrdinal(HMODULE module, uint16_t ordinal) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// Every export, each null when the module lacks its ordinal.
struct QuenloExports {
  PFN_CreatePipeClient create_client = nullptr;                      // 1
  PFN_CreatePipeServer create_server = nullptr;                      // 2
  PFN_ChannelLayoutToChannels channel_layout_to_channels = nullptr;  // 3
  PFN_AudioFormatToBits audio_format_to_bits = nullptr;              // 4
  PFN_GetTimeNS get_time_ns = nullptr;                               // 5
  PFN_QueryVersion query_version = nullptr;                          // 6
  PFN_SetLogMessageCallback set_log_callback = nullptr;              // 7
};

QuenloExports BindQuenloExports(HMODULE module);

}  // namespace quenlo_tools

#endif  // TOOLS_COMMON_QUENLO_EXPORTS_H
