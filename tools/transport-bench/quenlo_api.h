// quenlo_api.h - Quenlo.dll as a host and the panel program load it: by
// path, with the exports bound by ordinal (1 CreatePipeClient,
// 2 CreatePipeServer, 5 GetTimeNS, 7 SetLogMessageCallback).
//
// The library stays loaded until the process ends: its threads may still be
// finishing when the benchmark is done with it.
#ifndef TRANSPORT_BENCH_QUENLO_API_H
#define TRANSPORT_BENCH_QUENLO_API_H

#include <string>

#include "Quenlo/Quenlo.h"

namespace transport_bench {

struct QuenloApi {
  PFN_CreatePipeClient create_client = nullptr;
  PFN_CreatePipeServer create_server = nullptr;
  PFN_GetTimeNS time_ns = nullptr;
  PFN_SetLogMessageCallback set_log = nullptr;
};

// Loads the library once per process (later calls return the first result)
// and installs a log sink that accepts and discards every line, as the
// panel program does, unless `print_log` is set (then lines go to stderr).
// Null, with *error set, when the DLL or an export is missing.
const QuenloApi* LoadQuenlo(const std::wstring& path, bool print_log, std::string* error);

// Quenlo.dll beside this executable.
std::wstring DefaultLibraryPath();

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_QUENLO_API_H
