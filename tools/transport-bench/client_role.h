// client_role.h - the writing side of each measurement: the bare pipe or
// mapping writer of the baselines, and the library's client (IPipeClient)
// as the panel program uses it.
//
// Runs on one thread (a child process's main thread, or a thread of the
// measuring process). Every wait is bounded, so a role always ends.
#ifndef TRANSPORT_BENCH_CLIENT_ROLE_H
#define TRANSPORT_BENCH_CLIENT_ROLE_H

#include <string>

#include "quenlo_api.h"
#include "result_record.h"
#include "scenario.h"

namespace transport_bench {

// Geometry of the raw frame baseline's mapping, shared by both sides:
// three slots, each a 16-byte header (u32 sequence number, u32 zero, u64
// time stamp) and then the pixels.
constexpr uint32_t kSmallFrameWidth = 900;
constexpr uint32_t kSmallFrameHeight = 180;
constexpr uint32_t kSmallFrameBytes = kSmallFrameWidth * kSmallFrameHeight * 4;
constexpr uint32_t kRawSlotCount = 3;
constexpr uint32_t kRawSlotSize = 16 + kSmallFrameBytes;
std::wstring RawFrameMappingName(const std::wstring& name);
std::wstring RawFrameSemaphoreName(const std::wstring& name);

// Runs the client side of `request`. Fills *results with its figures (names
// in client_role.cpp's measure functions) and returns true, or returns false
// with *error set. `api` is needed for the Quenlo scenarios only.
bool RunClientRole(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                   std::string* error);

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_CLIENT_ROLE_H
