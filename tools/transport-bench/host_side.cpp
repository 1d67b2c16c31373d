#include "host_side.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "bench_clock.h"
#include "client_role.h"
#include "raw_pipe.h"
#include "win_handles.h"
#include "wire_frames.h"

namespace transport_bench {
namespace {

constexpr DWORD kAcceptTimeoutMs = 40000;
constexpr DWORD kStreamTimeoutMs = 600000;
constexpr DWORD kClientEndTimeoutMs = 120000;

// What the host's callback sees. The callback runs on the server's channel
// reader and on its video reader thread at once: counters are atomic, the
// latency samples are guarded by `lock`. Everything else is set before the
// server is opened and only read afterwards.
struct HostState {
  explicit HostState(const QuenloApi* quenlo) : api(quenlo) {}

  const QuenloApi* api;
  Quenlo::IPipeServer* server = nullptr;
  uint32_t expected_messages = 0;
  uint32_t warmup_frames = 0;
  uint32_t expected_frames = 0;  // warm-up included
  UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  std::atomic<uint32_t> messages{0};
  std::atomic<uint64_t> payload_bytes{0};
  std::atomic<uint64_t> last_message_ns{0};

  std::mutex lock;
  std::vector<uint64_t> latencies;  // lock
  uint32_t delivered = 0;           // lock; measured frames seen
  int64_t last_sequence = -1;       // lock; newest frame seen
  uint32_t stale = 0;               // lock; packets of a frame seen before
};

void OnHostEvent(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                 void* context) {
  HostState* host = static_cast<HostState*>(context);
  if (event == EVENT_PACKET && data != nullptr && length == sizeof(MediaPacket)) {
    const uint64_t now = host->api->time_ns();
    MediaPacket packet;
    std::memcpy(&packet, data, sizeof packet);
    if (packet.kind != MEDIA_PACKET_VIDEO || host->expected_frames == 0) return;
    std::lock_guard<std::mutex> guard(host->lock);
    // A wake-up without a new frame (the writer's teardown releases the
    // semaphore once more) re-reads an old slot: not a delivery.
    if (static_cast<int64_t>(packet.reserved8) <= host->last_sequence) {
      ++host->stale;
      return;
    }
    host->last_sequence = packet.reserved8;
    if (packet.reserved8 >= host->warmup_frames) {
      host->latencies.push_back(now - packet.timestamp);
      ++host->delivered;
    }
    if (packet.reserved8 + 1 == host->expected_frames) ::SetEvent(host->done.Get());
    return;
  }
  if (event != EVENT_MESSAGE) return;
  if (type == kTypeStream) {
    host->payload_bytes += length;
    if (++host->messages == host->expected_messages) {
      host->last_message_ns = NowNs();
      ::SetEvent(host->done.Get());
    }
  } else if (type == kTypeSync || type == kTypeEcho) {
    host->server->SendMessage(type, data, length);
  }
}

// Owns one IPipeServer reference; Close and the last Release (which waits
// for the teardown) at the end of scope. Declared after the HostState its
// callback uses, so it goes first.
class QuenloServer {
 public:
  QuenloServer() = default;
  ~QuenloServer() {
    if (server_ != nullptr) {
      server_->Close();
      server_->Release();
    }
  }
  QuenloServer(const QuenloServer&) = delete;
  QuenloServer& operator=(const QuenloServer&) = delete;

  bool Open(const std::wstring& name, HostState* state, std::string* error) {
    if (!state->api->create_server(&server_) || server_ == nullptr) {
      *error = "CreatePipeServer failed";
      return false;
    }
    state->server = server_;
    server_->SetCallback(&OnHostEvent, state);
    server_->Open(name.c_str(), 1);
    return true;
  }

  Quenlo::IPipeServer* get() const { return server_; }

 private:
  Quenlo::IPipeServer* server_ = nullptr;
};

EchoFigures EchoFrom(const ResultRecord& results, const std::string& prefix) {
  EchoFigures figures;
  const auto get = [&](const std::string& key) {
    const auto found = results.find(prefix + key);
    return found == results.end() ? 0 : static_cast<uint64_t>(found->second);
  };
  figures.p50_ns = get("_p50_ns");
  figures.p99_ns = get("_p99_ns");
  figures.mean_ns = get("_mean_ns");
  figures.count = get("_count");
  return figures;
}

bool StreamFrom(const ResultRecord& results, uint64_t end_ns, uint32_t payload, uint32_t count,
                StreamFigures* figures, std::string* error) {
  const auto start = results.find("start_ns");
  if (start == results.end() || static_cast<uint64_t>(start->second) >= end_ns) {
    *error = "no usable start time from the client";
    return false;
  }
  figures->elapsed_ns = end_ns - static_cast<uint64_t>(start->second);
  const auto written = results.find("written_ns");
  if (written != results.end() && written->second >= start->second) {
    figures->submit_ns = static_cast<uint64_t>(written->second - start->second);
  }
  figures->messages_per_second = PerSecond(count, figures->elapsed_ns);
  figures->payload_bytes_per_second =
      PerSecond(static_cast<uint64_t>(count) * payload, figures->elapsed_ns);
  return true;
}

// Waits until `event` is set or the client side ended; true for the event.
bool WaitOrClientEnd(HANDLE event, ClientLauncher* launcher, DWORD timeout_ms) {
  const HANDLE handles[2] = {event, launcher->ended()};
  return ::WaitForMultipleObjects(2, handles, FALSE, timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace

HostSide::HostSide(const QuenloApi* api, ClientLauncher* launcher)
    : api_(api), launcher_(launcher) {}

std::wstring HostSide::NextName() {
  return L"tb-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++sequence_);
}

ClientRequest HostSide::MakeRequest(Scenario scenario, uint32_t payload, uint32_t count,
                                    uint32_t warmup, uint32_t fps) {
  ClientRequest request;
  request.scenario = scenario;
  request.name = NextName();
  request.payload = payload;
  request.count = count;
  request.warmup = warmup;
  request.fps = fps;
  return request;
}

bool HostSide::RawStream(uint32_t payload, uint32_t count, bool ports, StreamFigures* figures,
                         std::string* error) {
  const ClientRequest request =
      MakeRequest(ports ? Scenario::kPortStream : Scenario::kRawStream, payload, count, 0, 0);
  RawPipe pipe;
  if (!pipe.Create(request.name)) {
    *error = "cannot create the raw pipe";
    return false;
  }
  if (!launcher_->Start(request, error)) return false;
  ResultRecord results;
  if (!pipe.Accept(kAcceptTimeoutMs) || (ports && !pipe.UseCompletionPort())) {
    launcher_->Finish(kClientEndTimeoutMs, &results, error);
    *error = "the raw client did not connect: " + *error;
    return false;
  }
  const uint64_t expected = static_cast<uint64_t>(count) * WireMessageSize(payload);
  WireMessageCounter counter;
  std::vector<uint8_t> buffer(RawPipe::kBufferSize);
  while (counter.bytes() < expected) {
    const DWORD read = pipe.Read(buffer.data(), RawPipe::kBufferSize);
    if (read == 0) break;
    counter.Feed(buffer.data(), read);
  }
  const uint64_t end = NowNs();
  const bool complete = counter.messages() == count && counter.bytes() == expected;
  if (complete) pipe.Write("k", 1);
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  if (!complete) {
    *error = "the raw reader got " + std::to_string(counter.messages()) + " of " +
             std::to_string(count) + " messages";
    return false;
  }
  return StreamFrom(results, end, payload, count, figures, error);
}

bool HostSide::QuenloStream(uint32_t payload, uint32_t count, StreamFigures* figures,
                            std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kQuenloStream, payload, count, 0, 0);
  HostState state(api_);
  state.expected_messages = count;
  QuenloServer server;
  if (!server.Open(request.name, &state, error)) return false;
  if (!launcher_->Start(request, error)) return false;
  const bool received = WaitOrClientEnd(state.done.Get(), launcher_, kStreamTimeoutMs);
  if (received) server.get()->SendMessage(kTypeDone, "done", 4);
  ResultRecord results;
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  if (!received || state.payload_bytes != static_cast<uint64_t>(count) * payload) {
    *error = "the server got " + std::to_string(state.messages.load()) + " of " +
             std::to_string(count) + " messages";
    return false;
  }
  return StreamFrom(results, state.last_message_ns, payload, count, figures, error);
}

bool HostSide::RawEcho(uint32_t payload, uint32_t warmup, uint32_t count, EchoFigures* figures,
                       std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kRawEcho, payload, count, warmup, 0);
  RawPipe pipe;
  if (!pipe.Create(request.name)) {
    *error = "cannot create the raw pipe";
    return false;
  }
  if (!launcher_->Start(request, error)) return false;
  ResultRecord results;
  if (pipe.Accept(kAcceptTimeoutMs)) {
    const DWORD size = static_cast<DWORD>(WireMessageSize(payload));
    std::vector<uint8_t> message(size);
    for (uint32_t i = 0; i < warmup + count; ++i) {
      if (!pipe.ReadExact(message.data(), size) || !pipe.Write(message.data(), size)) break;
    }
  }
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  *figures = EchoFrom(results, "rtt");
  return true;
}

bool HostSide::QuenloEcho(uint32_t payload, uint32_t warmup, uint32_t count, EchoFigures* figures,
                          std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kQuenloEcho, payload, count, warmup, 0);
  HostState state(api_);
  QuenloServer server;
  if (!server.Open(request.name, &state, error)) return false;
  if (!launcher_->Start(request, error)) return false;
  ResultRecord results;
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  *figures = EchoFrom(results, "rtt");
  return true;
}

bool HostSide::FrameWrite(uint32_t warmup, uint32_t count, FrameWriteFigures* figures,
                          std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kFrameWrite, 0, count, warmup, 0);
  HostState state(api_);
  QuenloServer server;
  if (!server.Open(request.name, &state, error)) return false;
  if (!launcher_->Start(request, error)) return false;
  ResultRecord results;
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  figures->write = EchoFrom(results, "write");
  figures->copy = EchoFrom(results, "copy");
  figures->failures = results["write_failures"];
  return true;
}

bool HostSide::RawFrames(uint32_t fps, uint32_t warmup, uint32_t count,
                         FrameLatencyFigures* figures, std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kRawFrames, 0, count, warmup, fps);
  const DWORD mapping_size = kRawSlotCount * kRawSlotSize;
  UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            mapping_size,
                                            RawFrameMappingName(request.name).c_str()));
  UniqueHandle semaphore(
      ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, RawFrameSemaphoreName(request.name).c_str()));
  UniqueView view(mapping.IsValid() ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0)
                                    : nullptr);
  if (view.Get() == nullptr || !semaphore.IsValid()) {
    *error = "cannot create the raw frame mapping or semaphore";
    return false;
  }
  if (!launcher_->Start(request, error)) return false;
  const uint8_t* base = static_cast<const uint8_t*>(view.Get());
  std::vector<uint64_t> latencies;
  const HANDLE handles[2] = {semaphore.Get(), launcher_->ended()};
  for (uint32_t i = 0; i < warmup + count; ++i) {
    if (::WaitForMultipleObjects(2, handles, FALSE, 5000 + 1000 / (fps ? fps : 1)) !=
        WAIT_OBJECT_0) {
      break;
    }
    const uint64_t now = NowNs();
    const uint8_t* slot = base + static_cast<size_t>(i % kRawSlotCount) * kRawSlotSize;
    uint32_t sequence = 0;
    uint64_t stamp = 0;
    std::memcpy(&sequence, slot, 4);
    std::memcpy(&stamp, slot + 8, 8);
    if (sequence >= warmup) latencies.push_back(now - stamp);
  }
  ResultRecord results;
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  figures->sent = count;
  figures->delivered = static_cast<uint32_t>(latencies.size());
  figures->latency = SummarizeLatency(std::move(latencies));
  return true;
}

bool HostSide::QuenloFrames(uint32_t fps, uint32_t warmup, uint32_t count,
                            FrameLatencyFigures* figures, std::string* error) {
  const ClientRequest request = MakeRequest(Scenario::kQuenloFrames, 0, count, warmup, fps);
  HostState state(api_);
  state.warmup_frames = warmup;
  state.expected_frames = warmup + count;
  QuenloServer server;
  if (!server.Open(request.name, &state, error)) return false;
  if (!launcher_->Start(request, error)) return false;
  const DWORD duration_ms = static_cast<DWORD>((warmup + count) * 1000ull / (fps ? fps : 1));
  if (WaitOrClientEnd(state.done.Get(), launcher_, duration_ms + 60000)) {
    server.get()->SendMessage(kTypeDone, "done", 4);
  }
  ResultRecord results;
  if (!launcher_->Finish(kClientEndTimeoutMs, &results, error)) return false;
  std::lock_guard<std::mutex> guard(state.lock);
  figures->sent = count;
  figures->delivered = state.delivered;
  figures->stale = state.stale;
  figures->latency = SummarizeLatency(state.latencies);
  return true;
}

}  // namespace transport_bench
