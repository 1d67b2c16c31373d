#include "client_role.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "bench_clock.h"
#include "bench_stats.h"
#include "raw_pipe.h"
#include "win_handles.h"
#include "wire_frames.h"

namespace transport_bench {
namespace {

constexpr DWORD kConnectTimeoutMs = 40000;  // the library's connect loop gives up after 30 s
constexpr DWORD kReplyTimeoutMs = 10000;
constexpr uint32_t kFullFrameWidth = 1920;
constexpr uint32_t kFullFrameHeight = 1080;
constexpr uint32_t kFullFrameBytes = kFullFrameWidth * kFullFrameHeight * 4;

void AddSummary(const std::string& prefix, const std::vector<uint64_t>& samples,
                ResultRecord* results) {
  const LatencySummary summary = SummarizeLatency(samples);
  (*results)[prefix + "_count"] = static_cast<int64_t>(summary.count);
  (*results)[prefix + "_p50_ns"] = static_cast<int64_t>(summary.p50);
  (*results)[prefix + "_p99_ns"] = static_cast<int64_t>(summary.p99);
  (*results)[prefix + "_mean_ns"] = static_cast<int64_t>(summary.mean);
  (*results)[prefix + "_max_ns"] = static_cast<int64_t>(summary.max);
}

// Sleeps until NowNs() reaches `target_ns` (to the scheduler's granularity;
// no spinning, which would take a core from the reader on a small machine).
void WaitUntil(uint64_t target_ns) {
  for (;;) {
    const uint64_t now = NowNs();
    if (now >= target_ns) return;
    ::Sleep(static_cast<DWORD>((target_ns - now) / 1000000));
  }
}

// The video packet the panel program writes, for a frame of width x height
// 4-byte pixels (format 12, not flipped) at `pixels`.
MediaPacket VideoPacket(uint32_t width, uint32_t height, uint8_t* pixels) {
  MediaPacket packet;
  std::memset(&packet, 0, sizeof packet);
  packet.kind = MEDIA_PACKET_VIDEO;
  packet.width = width;
  packet.height = height;
  packet.video_info0 = 10;
  packet.video_info1 = 1;
  packet.format = 12;
  packet.data[0] = pixels;
  packet.linesize[0] = static_cast<int32_t>(width * 4);
  return packet;
}

// ---------------------------------------------------------------------------
// The library's client, as the panel program drives it.
// ---------------------------------------------------------------------------

// Set by the client's callback (the library's reader thread, or the runner
// for EVENT_DISCONNECTED); waited on by the role's thread.
struct PeerEvents {
  UniqueHandle connected{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle gone{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // broken or disconnected
  UniqueHandle sync{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle echo{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<uint32_t> echo_length{0};
};

void OnClientEvent(IPC_EVENT_TYPE event, uint32_t type, const char*, uint32_t length,
                   void* context) {
  PeerEvents* peer = static_cast<PeerEvents*>(context);
  switch (event) {
    case EVENT_CONNECTED:
      ::SetEvent(peer->connected.Get());
      break;
    case EVENT_BROKEN:
    case EVENT_CONNECTION_RESET:
    case EVENT_DISCONNECTED:
      ::SetEvent(peer->gone.Get());
      break;
    case EVENT_MESSAGE:
      if (type == kTypeSync) ::SetEvent(peer->sync.Get());
      if (type == kTypeEcho) {
        peer->echo_length = length;
        ::SetEvent(peer->echo.Get());
      }
      if (type == kTypeDone) ::SetEvent(peer->done.Get());
      break;
    default:
      break;
  }
}

// True when `event` was set within timeout_ms and the link did not go first.
bool WaitPeer(const PeerEvents& peer, HANDLE event, DWORD timeout_ms) {
  const HANDLE handles[2] = {event, peer.gone.Get()};
  return ::WaitForMultipleObjects(2, handles, FALSE, timeout_ms) == WAIT_OBJECT_0;
}

// Owns one IPipeClient reference; Destroy and Release at the end of scope.
// Declared after the PeerEvents it reports to, so it goes first.
class QuenloClient {
 public:
  explicit QuenloClient(PeerEvents* peer) : peer_(peer) {}
  ~QuenloClient() {
    if (client_ != nullptr) {
      client_->Destroy();
      client_->Release();
    }
  }
  QuenloClient(const QuenloClient&) = delete;
  QuenloClient& operator=(const QuenloClient&) = delete;

  // Creates the client with one media channel, waits for EVENT_CONNECTED,
  // then for the host's answer to a sync message, so that the host's
  // readers run before anything is measured.
  bool Connect(const QuenloApi* api, const std::wstring& name, std::string* error) {
    if (api == nullptr || !api->create_client(&client_) || client_ == nullptr) {
      *error = "CreatePipeClient failed";
      return false;
    }
    client_->SetCallback(&OnClientEvent, peer_);
    if (!client_->Create(name.c_str(), 1)) {
      *error = "IPipeClient::Create failed";
      return false;
    }
    if (!WaitPeer(*peer_, peer_->connected.Get(), kConnectTimeoutMs)) {
      *error = "the client did not connect";
      return false;
    }
    if (!client_->SendMessage(kTypeSync, "sync", 4) ||
        !WaitPeer(*peer_, peer_->sync.Get(), kReplyTimeoutMs)) {
      *error = "the host did not answer the sync message";
      return false;
    }
    return true;
  }

  Quenlo::IPipeClient* get() const { return client_; }

 private:
  PeerEvents* peer_;
  Quenlo::IPipeClient* client_ = nullptr;
};

bool QuenloStream(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                  std::string* error) {
  PeerEvents peer;
  QuenloClient client(&peer);
  if (!client.Connect(api, request.name, error)) return false;
  const std::vector<char> payload(request.payload, 'q');
  const uint64_t start = NowNs();
  for (uint32_t i = 0; i < request.count; ++i) {
    if (!client.get()->SendMessage(kTypeStream, payload.data(), request.payload)) {
      *error = "SendMessage failed at message " + std::to_string(i);
      return false;
    }
  }
  (*results)["start_ns"] = static_cast<int64_t>(start);
  (*results)["written_ns"] = static_cast<int64_t>(NowNs());
  // Destroy would drop what is still queued: wait for the host's receipt.
  if (!WaitPeer(peer, peer.done.Get(), 600000)) {
    *error = "no receipt from the host";
    return false;
  }
  return true;
}

bool QuenloEcho(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                std::string* error) {
  PeerEvents peer;
  QuenloClient client(&peer);
  if (!client.Connect(api, request.name, error)) return false;
  const std::vector<char> payload(request.payload, 'e');
  std::vector<uint64_t> samples;
  samples.reserve(request.count);
  for (uint32_t i = 0; i < request.warmup + request.count; ++i) {
    const uint64_t start = NowNs();
    if (!client.get()->SendMessage(kTypeEcho, payload.data(), request.payload) ||
        !WaitPeer(peer, peer.echo.Get(), kReplyTimeoutMs)) {
      *error = "no echo for round trip " + std::to_string(i);
      return false;
    }
    const uint64_t end = NowNs();
    if (peer.echo_length != request.payload) {
      *error = "the echo has the wrong length";
      return false;
    }
    if (i >= request.warmup) samples.push_back(end - start);
  }
  AddSummary("rtt", samples, results);
  return true;
}

bool FrameWrite(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                std::string* error) {
  PeerEvents peer;
  QuenloClient client(&peer);
  if (!client.Connect(api, request.name, error)) return false;
  std::vector<uint8_t> frame(kFullFrameBytes);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint8_t> copy(kFullFrameBytes, 0);
  MediaPacket packet = VideoPacket(kFullFrameWidth, kFullFrameHeight, frame.data());
  std::vector<uint64_t> writes;
  std::vector<uint64_t> copies;
  int64_t failures = 0;
  volatile uint8_t sink = 0;
  // Alternate the two so that both see the same machine state.
  for (uint32_t i = 0; i < request.warmup + request.count; ++i) {
    const uint64_t copy_start = NowNs();
    std::memcpy(copy.data(), frame.data(), kFullFrameBytes);
    const uint64_t copy_end = NowNs();
    sink = sink + copy[i % kFullFrameBytes];
    packet.reserved8 = i;
    packet.timestamp = api->time_ns();
    const uint64_t write_start = NowNs();
    if (!client.get()->WritePacket(&packet, 80)) ++failures;
    const uint64_t write_end = NowNs();
    if (i >= request.warmup) {
      copies.push_back(copy_end - copy_start);
      writes.push_back(write_end - write_start);
    }
  }
  AddSummary("write", writes, results);
  AddSummary("copy", copies, results);
  (*results)["write_failures"] = failures;
  return true;
}

bool QuenloFrames(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                  std::string* error) {
  PeerEvents peer;
  QuenloClient client(&peer);
  if (!client.Connect(api, request.name, error)) return false;
  std::vector<uint8_t> frame(kSmallFrameBytes, 0x5A);
  MediaPacket packet = VideoPacket(kSmallFrameWidth, kSmallFrameHeight, frame.data());
  const uint64_t period = 1000000000ull / (request.fps == 0 ? 1 : request.fps);
  uint64_t next = NowNs() + period;
  int64_t failures = 0;
  for (uint32_t i = 0; i < request.warmup + request.count; ++i, next += period) {
    WaitUntil(next);
    packet.reserved8 = i;  // carried unchanged: the host sees which frame it got
    packet.timestamp = api->time_ns();
    if (!client.get()->WritePacket(&packet, 80)) ++failures;
  }
  (*results)["write_failures"] = failures;
  // Teardown would stop the host's reader: wait until it saw the last frame.
  WaitPeer(peer, peer.done.Get(), 5000);
  return true;
}

// ---------------------------------------------------------------------------
// The baselines: a bare pipe end, a bare mapping and semaphore.
// ---------------------------------------------------------------------------

bool RawStream(const ClientRequest& request, ResultRecord* results, std::string* error) {
  RawPipe pipe;
  if (!pipe.Open(request.name, kConnectTimeoutMs) ||
      (request.scenario == Scenario::kPortStream && !pipe.UseCompletionPort())) {
    *error = "cannot open the raw pipe";
    return false;
  }
  const std::vector<uint8_t> message = BuildWireMessage(kTypeStream, request.payload);
  const uint64_t start = NowNs();
  for (uint32_t i = 0; i < request.count; ++i) {
    if (!pipe.Write(message.data(), static_cast<DWORD>(message.size()))) {
      *error = "raw write failed at message " + std::to_string(i);
      return false;
    }
  }
  (*results)["start_ns"] = static_cast<int64_t>(start);
  (*results)["written_ns"] = static_cast<int64_t>(NowNs());
  char receipt = 0;
  if (!pipe.ReadExact(&receipt, 1)) {
    *error = "no receipt from the raw reader";
    return false;
  }
  return true;
}

bool RawEcho(const ClientRequest& request, ResultRecord* results, std::string* error) {
  RawPipe pipe;
  if (!pipe.Open(request.name, kConnectTimeoutMs)) {
    *error = "cannot open the raw pipe";
    return false;
  }
  const std::vector<uint8_t> message = BuildWireMessage(kTypeEcho, request.payload);
  std::vector<uint8_t> reply(message.size());
  const DWORD size = static_cast<DWORD>(message.size());
  std::vector<uint64_t> samples;
  samples.reserve(request.count);
  for (uint32_t i = 0; i < request.warmup + request.count; ++i) {
    const uint64_t start = NowNs();
    if (!pipe.Write(message.data(), size) || !pipe.ReadExact(reply.data(), size)) {
      *error = "raw round trip " + std::to_string(i) + " failed";
      return false;
    }
    const uint64_t end = NowNs();
    if (i >= request.warmup) samples.push_back(end - start);
  }
  AddSummary("rtt", samples, results);
  return true;
}

bool RawFrames(const ClientRequest& request, ResultRecord* results, std::string* error) {
  UniqueHandle mapping(
      ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, RawFrameMappingName(request.name).c_str()));
  UniqueHandle semaphore(
      ::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, RawFrameSemaphoreName(request.name).c_str()));
  UniqueView view(mapping.IsValid() ? ::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0)
                                    : nullptr);
  if (view.Get() == nullptr || !semaphore.IsValid()) {
    *error = "cannot open the raw frame mapping or semaphore";
    return false;
  }
  uint8_t* base = static_cast<uint8_t*>(view.Get());
  std::vector<uint8_t> frame(kSmallFrameBytes, 0x5A);
  const uint64_t period = 1000000000ull / (request.fps == 0 ? 1 : request.fps);
  uint64_t next = NowNs() + period;
  for (uint32_t i = 0; i < request.warmup + request.count; ++i, next += period) {
    WaitUntil(next);
    // Same order as the library's writer: time stamp, copy, then signal.
    const uint64_t stamp = NowNs();
    uint8_t* slot = base + static_cast<size_t>(i % kRawSlotCount) * kRawSlotSize;
    std::memcpy(slot, &i, 4);
    std::memcpy(slot + 8, &stamp, 8);
    std::memcpy(slot + 16, frame.data(), kSmallFrameBytes);
    ::ReleaseSemaphore(semaphore.Get(), 1, nullptr);
  }
  (*results)["write_failures"] = 0;
  return true;
}

}  // namespace

std::wstring RawFrameMappingName(const std::wstring& name) { return L"Local\\tb-frames-" + name; }
std::wstring RawFrameSemaphoreName(const std::wstring& name) { return L"Local\\tb-signal-" + name; }

bool RunClientRole(const ClientRequest& request, const QuenloApi* api, ResultRecord* results,
                   std::string* error) {
  const bool needs_library =
      request.scenario == Scenario::kQuenloStream || request.scenario == Scenario::kQuenloEcho ||
      request.scenario == Scenario::kFrameWrite || request.scenario == Scenario::kQuenloFrames;
  if (needs_library && api == nullptr) {
    *error = "Quenlo.dll is not loaded";
    return false;
  }
  switch (request.scenario) {
    case Scenario::kRawStream:
    case Scenario::kPortStream:
      return RawStream(request, results, error);
    case Scenario::kQuenloStream:
      return QuenloStream(request, api, results, error);
    case Scenario::kRawEcho:
      return RawEcho(request, results, error);
    case Scenario::kQuenloEcho:
      return QuenloEcho(request, api, results, error);
    case Scenario::kFrameWrite:
      return FrameWrite(request, api, results, error);
    case Scenario::kRawFrames:
      return RawFrames(request, results, error);
    case Scenario::kQuenloFrames:
      return QuenloFrames(request, api, results, error);
  }
  *error = "unknown scenario";
  return false;
}

}  // namespace transport_bench
