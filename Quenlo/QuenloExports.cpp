// The plain exported functions at their fixed ordinals (see Quenlo.def).
#include <atomic>

#include "BrisqFramework/Common/BrisqClock.h"
#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/AudioTables.h"
#include "Quenlo/PipeClient.h"
#include "Quenlo/PipeServer.h"
#include "Quenlo/Quenlo.h"

namespace {

// The host's log sink. Written by SetLogMessageCallback, read by the
// forwarder on every logging thread; atomic so a change never tears.
std::atomic<LogMessageCallback> g_log_callback{nullptr};

// The logging core's output hook while a sink was ever set.
int32_t ForwardLogLine(int32_t level, const char* file, int32_t line, const char* text) {
  LogMessageCallback callback = g_log_callback.load();
  return callback != nullptr ? callback(level, file, line, text) : 0;
}

constexpr char kVersion[] = "1.0.0";

}  // namespace

extern "C" {

QUENLO_API int32_t CreatePipeClient(Quenlo::IPipeClient** client) try {
  // The new object holds the one reference handed out here.
  Quenlo::PipeClient* object = new Quenlo::PipeClient();
  if (client == nullptr) {
    object->Release();
    return 0;
  }
  *client = object;
  return 1;
} catch (...) {
  // Nothing is handed out; no exception reaches the caller.
  BRISQ_LOG_CAUGHT("Failed to CreatePipeClient");
  if (client != nullptr) *client = nullptr;
  return 0;
}

QUENLO_API int32_t CreatePipeServer(Quenlo::IPipeServer** server) try {
  // A server starts with no reference; the one taken here is handed out.
  Quenlo::PipeServer* object = new Quenlo::PipeServer();
  object->AddRef();
  if (server == nullptr) {
    object->Release();
    return 0;
  }
  *server = object;
  return 1;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to CreatePipeServer");
  if (server != nullptr) *server = nullptr;
  return 0;
}

QUENLO_API uint32_t ChannelLayoutToChannels(uint32_t layout) {
  const Quenlo::ChannelLayoutInfo* info = Quenlo::FindChannelLayout(layout);
  return info != nullptr ? info->channels : 0;
}

QUENLO_API uint32_t AudioFormatToBits(uint32_t format) {
  const Quenlo::AudioFormatInfo* info = Quenlo::FindAudioFormat(format);
  return info != nullptr ? info->bits : 0;
}

QUENLO_API uint64_t GetTimeNS() { return BrisqFramework::GetTimeNS(); }

QUENLO_API const char* QueryVersion() { return kVersion; }

QUENLO_API void SetLogMessageCallback(LogMessageCallback callback) {
  g_log_callback.store(callback);
  BrisqFramework::SetLogOutputHook(&ForwardLogLine);
}

}  // extern "C"
