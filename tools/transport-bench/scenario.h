// scenario.h - what one measurement asks of its client side, and the
// command-line form in which the measuring process hands that request to a
// child copy of the program.
//
// Every measurement has two sides: the host side (the pipe server, the
// reader of the rings) runs in the main process; the client side (the
// writer) runs either in a child process started from this same program
// with "--client <scenario> ..." (the default: the real path, two
// processes) or on a thread of the main process (--same-process).
#ifndef TRANSPORT_BENCH_SCENARIO_H
#define TRANSPORT_BENCH_SCENARIO_H

#include <cstdint>
#include <string>

namespace transport_bench {

enum class Scenario {
  kRawStream,     // bare pipe: `count` messages of `payload` bytes, one way
  kQuenloStream,  // the same through IPipeClient::SendMessage
  kRawEcho,       // bare pipe ping-pong, `warmup` + `count` round trips
  kQuenloEcho,    // SendMessage, echoed by the server's callback
  kFrameWrite,    // `warmup` + `count` 1920x1080 WritePacket calls and memcpys
  kRawFrames,     // bare mapping + semaphore, 900x180 frames at `fps`
  kQuenloFrames,  // WritePacket of 900x180 frames at `fps`
  kPortStream,    // as kRawStream, both ends taking completions from a port
};

// Message types between the benchmark's client and host.
constexpr uint32_t kTypeStream = 1;  // counted by the host
constexpr uint32_t kTypeSync = 2;    // echoed: both ends are up
constexpr uint32_t kTypeEcho = 3;    // echoed: one round trip
constexpr uint32_t kTypeDone = 4;    // host to client: all received, tear down

struct ClientRequest {
  Scenario scenario = Scenario::kRawStream;
  std::wstring name;     // pipe name and suffix of the named objects
  uint32_t payload = 0;  // message payload bytes
  uint32_t count = 0;    // measured messages, round trips or frames
  uint32_t warmup = 0;   // unmeasured round trips or frames before them
  uint32_t fps = 0;      // frame rate of paced frames
};

const wchar_t* ScenarioName(Scenario scenario);

// The arguments after the program name: "--client <scenario> --name N
// --payload P --count C --warmup W --fps F".
std::wstring FormatClientArguments(const ClientRequest& request);

// Reads the options FormatClientArguments writes from argv[first..argc-1],
// skipping "--result PATH", "--library PATH" and "--print-log" (the
// launcher's). False on an unknown scenario or a malformed number.
bool ParseClientArguments(int argc, wchar_t** argv, int first, ClientRequest* request);

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_SCENARIO_H
