// host_side.h - the measuring side of each figure: the reader of the bare
// pipe and mapping of the baselines, and the library's server
// (IPipeServer) as a host drives it. Each function creates its side under a
// fresh name, starts the client side through the launcher, measures and
// tears everything down again.
//
// Called on the program's main thread, one measurement at a time.
#ifndef TRANSPORT_BENCH_HOST_SIDE_H
#define TRANSPORT_BENCH_HOST_SIDE_H

#include <cstdint>
#include <string>

#include "bench_stats.h"
#include "client_launcher.h"
#include "quenlo_api.h"

namespace transport_bench {

// From the client's first write to the host's receipt of the last message.
struct StreamFigures {
  double messages_per_second = 0.0;
  double payload_bytes_per_second = 0.0;
  uint64_t elapsed_ns = 0;
  uint64_t submit_ns = 0;  // of which the client spent in its write or send calls
};

// Round trips as the client saw them.
struct EchoFigures {
  uint64_t p50_ns = 0;
  uint64_t p99_ns = 0;
  uint64_t mean_ns = 0;
  uint64_t count = 0;
};

// 1920x1080 WritePacket calls and same-size memcpys, alternated.
struct FrameWriteFigures {
  EchoFigures write;  // WritePacket durations
  EchoFigures copy;   // memcpy durations
  int64_t failures = 0;
};

// Write-to-delivery latency of paced 900x180 frames.
struct FrameLatencyFigures {
  LatencySummary latency;
  uint32_t sent = 0;       // frames written after the warm-up
  uint32_t delivered = 0;  // of those, frames the reader handed on
  uint32_t stale = 0;      // packets that repeated a frame already seen
};

class HostSide {
 public:
  HostSide(const QuenloApi* api, ClientLauncher* launcher);

  // `ports`: both ends take their completions from a completion port, as
  // the library does (a diagnostic: Wine's cost of that I/O model).
  bool RawStream(uint32_t payload, uint32_t count, bool ports, StreamFigures* figures,
                 std::string* error);
  bool QuenloStream(uint32_t payload, uint32_t count, StreamFigures* figures, std::string* error);
  bool RawEcho(uint32_t payload, uint32_t warmup, uint32_t count, EchoFigures* figures,
               std::string* error);
  bool QuenloEcho(uint32_t payload, uint32_t warmup, uint32_t count, EchoFigures* figures,
                  std::string* error);
  bool FrameWrite(uint32_t warmup, uint32_t count, FrameWriteFigures* figures, std::string* error);
  bool RawFrames(uint32_t fps, uint32_t warmup, uint32_t count, FrameLatencyFigures* figures,
                 std::string* error);
  bool QuenloFrames(uint32_t fps, uint32_t warmup, uint32_t count, FrameLatencyFigures* figures,
                    std::string* error);

 private:
  std::wstring NextName();
  // The child's orders for one measurement, under a fresh pipe name.
  ClientRequest MakeRequest(Scenario scenario, uint32_t payload, uint32_t count, uint32_t warmup,
                            uint32_t fps);

  const QuenloApi* api_;
  ClientLauncher* launcher_;
  unsigned sequence_ = 0;
};

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_HOST_SIDE_H
