// A host built in Microsoft's C++ ABI (clang-cl, lld-link, no C runtime)
// drives a server and a client of Quenlo.dll in one process through the
// interfaces' tables: connect, messages both ways, a video frame and an
// audio packet with its acknowledgement, QueryInterface and reference
// counts, the log sink, shutdown. Built twice: QUENLO_BY_ORDINAL binds the
// exports with LoadLibraryW and GetProcAddress, otherwise through Quenlo.lib.
// Prints one line per failed check; exit code 0 when all passed.
#include <windows.h>

#include "Quenlo/Quenlo.h"
#include "host_check.h"

namespace {

constexpr DWORD kWaitMs = 20000;

struct Exports {
  PFN_CreatePipeClient create_client;
  PFN_CreatePipeServer create_server;
  PFN_QueryVersion query_version;
  PFN_SetLogMessageCallback set_log_callback;
};

using host_check::Check;
using host_check::Say;

bool Same(const char* a, const char* b, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

bool Contains(const char* text, const char* part) {
  for (; *text != 0; ++text) {
    uint32_t i = 0;
    while (part[i] != 0 && text[i] == part[i]) ++i;
    if (part[i] == 0) return true;
  }
  return false;
}

// One side's view of its events. Fields are written on library threads
// before the event that announces them is set. Globals are constant
// initialised (nothing runs constructors before main here).
struct Side {
  HANDLE connected;
  HANDLE message;
  HANDLE video;
  uint32_t message_type = 0;
  uint32_t message_length = 0;
  char message_bytes[64] = {};
  MediaPacket video_packet = {};
  unsigned char video_rows[2][16] = {};
  volatile uint32_t audio_packets = 0;
  uint32_t audio_bytes = 0;
  char audio_data[16] = {};
  volatile uint32_t disconnected = 0;
};

void OnEvent(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
             void* context) {
  Side& side = *static_cast<Side*>(context);
  if (event == EVENT_CONNECTED) {
    SetEvent(side.connected);
  } else if (event == EVENT_DISCONNECTED) {
    side.disconnected = side.disconnected + 1;
  } else if (event == EVENT_MESSAGE && length <= sizeof side.message_bytes) {
    side.message_type = type;
    side.message_length = length;
    for (uint32_t i = 0; i < length; ++i) side.message_bytes[i] = data[i];
    SetEvent(side.message);
  } else if (event == EVENT_PACKET && length == sizeof(MediaPacket)) {
    // Packet and planes are valid only during this call: copy them.
    const MediaPacket& packet = *reinterpret_cast<const MediaPacket*>(data);
    if (packet.kind == MEDIA_PACKET_VIDEO && packet.width == 4 && packet.height == 2) {
      side.video_packet = packet;
      for (uint32_t row = 0; row < 2; ++row) {
        const uint8_t* from = packet.data[0] + row * static_cast<uint32_t>(packet.linesize[0]);
        for (uint32_t i = 0; i < 16; ++i) side.video_rows[row][i] = from[i];
      }
      SetEvent(side.video);
    } else if (packet.kind == MEDIA_PACKET_AUDIO && packet.audio_bytes <= 16) {
      side.audio_bytes = packet.audio_bytes;
      for (uint32_t i = 0; i < packet.audio_bytes; ++i) {
        side.audio_data[i] = static_cast<char>(packet.data[0][i]);
      }
      side.audio_packets = side.audio_packets + 1;  // before the reader acknowledges
    }
  }
}

volatile uint32_t g_log_lines = 0;
volatile uint32_t g_log_constructor = 0;
volatile uint32_t g_log_failure_with_base_name = 0;

int32_t OnLog(int32_t level, const char* file, int32_t line, const char* text) {
  g_log_lines = g_log_lines + 1;
  if (Contains(text, "[PipeServer] constructor")) g_log_constructor = g_log_constructor + 1;
  // A failure line names its source file without the build machine's folders.
  if (level == 2 && Contains(text, "Failed to SendMessage(invalid channel)") && file != nullptr &&
      Contains(text, "] PipeServer.cpp(") && !Contains(file, "/") && !Contains(file, "\\") &&
      line > 0) {
    g_log_failure_with_base_name = g_log_failure_with_base_name + 1;
  }
  return 1;
}

bool Bind(Exports& exports, HMODULE* module) {
#if defined(QUENLO_BY_ORDINAL)
  *module = LoadLibraryW(L"Quenlo.dll");
  if (*module == nullptr) return false;
  exports.create_client = reinterpret_cast<PFN_CreatePipeClient>(reinterpret_cast<void*>(
      GetProcAddress(*module, MAKEINTRESOURCEA(QUENLO_ORDINAL_CreatePipeClient))));
  exports.create_server = reinterpret_cast<PFN_CreatePipeServer>(reinterpret_cast<void*>(
      GetProcAddress(*module, MAKEINTRESOURCEA(QUENLO_ORDINAL_CreatePipeServer))));
  exports.query_version = reinterpret_cast<PFN_QueryVersion>(reinterpret_cast<void*>(
      GetProcAddress(*module, MAKEINTRESOURCEA(QUENLO_ORDINAL_QueryVersion))));
  exports.set_log_callback = reinterpret_cast<PFN_SetLogMessageCallback>(reinterpret_cast<void*>(
      GetProcAddress(*module, MAKEINTRESOURCEA(QUENLO_ORDINAL_SetLogMessageCallback))));
#else
  *module = nullptr;
  exports.create_client = CreatePipeClient;
  exports.create_server = CreatePipeServer;
  exports.query_version = QueryVersion;
  exports.set_log_callback = SetLogMessageCallback;
#endif
  return exports.create_client != nullptr && exports.create_server != nullptr &&
         exports.query_version != nullptr && exports.set_log_callback != nullptr;
}

Side g_server_side;
Side g_client_side;

void Exchange(Quenlo::IPipeServer* server, Quenlo::IPipeClient* client) {
  Check(WaitForSingleObject(g_server_side.connected, kWaitMs) == WAIT_OBJECT_0 &&
            WaitForSingleObject(g_client_side.connected, kWaitMs) == WAIT_OBJECT_0,
        "both ends report EVENT_CONNECTED");
  Check(server->IsConnected() == 1 && client->IsConnected() == 1, "IsConnected is 1 on both ends");

  static const char kUp[] = {'u', 'p', 0, '\xff', '\x80', 'z'};
  Check(client->SendMessage(7001, kUp, sizeof kUp) == 1, "client SendMessage");
  Check(WaitForSingleObject(g_server_side.message, kWaitMs) == WAIT_OBJECT_0 &&
            g_server_side.message_type == 7001 && g_server_side.message_length == sizeof kUp &&
            Same(g_server_side.message_bytes, kUp, sizeof kUp),
        "the server receives the client's message byte for byte");
  static const char kDown[] = {'d', 'o', 'w', 'n', 0, '\x01', '\xfe'};
  Check(server->SendMessage(7002, kDown, sizeof kDown) == 1, "server SendMessage");
  Check(WaitForSingleObject(g_client_side.message, kWaitMs) == WAIT_OBJECT_0 &&
            g_client_side.message_type == 7002 && g_client_side.message_length == sizeof kDown &&
            Same(g_client_side.message_bytes, kDown, sizeof kDown),
        "the client receives the server's message byte for byte");

  // A 4x2 BGRA frame (format 12), 16 bytes a row.
  static uint8_t pixels[32];
  for (uint32_t i = 0; i < 32; ++i) pixels[i] = static_cast<uint8_t>(7 * i + 3);
  MediaPacket video = {};
  video.kind = MEDIA_PACKET_VIDEO;
  video.width = 4;
  video.height = 2;
  video.format = 12;
  video.data[0] = pixels;
  video.linesize[0] = 16;
  video.timestamp = 123456789;
  Check(client->WritePacket(&video, 1000) == 1, "WritePacket(video)");
  bool rows_equal = WaitForSingleObject(g_server_side.video, kWaitMs) == WAIT_OBJECT_0;
  for (uint32_t i = 0; rows_equal && i < 32; ++i) {
    rows_equal = g_server_side.video_rows[i / 16][i % 16] == pixels[i];
  }
  Check(rows_equal && g_server_side.video_packet.format == 12 &&
            g_server_side.video_packet.timestamp == 123456789,
        "the video frame arrives as EVENT_PACKET with its pixels");

  static uint8_t samples[16];
  for (uint32_t i = 0; i < 16; ++i) samples[i] = static_cast<uint8_t>(200 - i);
  MediaPacket audio = {};
  audio.kind = MEDIA_PACKET_AUDIO;
  audio.width = 2;
  audio.data[0] = samples;
  audio.audio_bytes = 16;
  const DWORD before = GetTickCount();
  Check(client->WritePacket(&audio, 10000) == 1, "WritePacket(audio)");
  // WritePacket waits for the reader's acknowledgement, which follows the
  // callback: the packet was delivered before WritePacket returned.
  Check(g_server_side.audio_packets == 1 && GetTickCount() - before < 5000 &&
            g_server_side.audio_bytes == 16 &&
            Same(g_server_side.audio_data, reinterpret_cast<const char*>(samples), 16),
        "the audio packet arrives as EVENT_PACKET before its acknowledgement");
}

}  // namespace

int main() {
  Exports exports = {};
  HMODULE module = nullptr;
  if (!Bind(exports, &module)) {
    Say("FAILED: Quenlo.dll's exports cannot be bound\n");
    return 1;
  }
  Check(Same(exports.query_version(), "1.0.0", 6), "QueryVersion is 1.0.0");
  exports.set_log_callback(OnLog);

  Quenlo::IPipeServer* server = nullptr;
  Quenlo::IPipeClient* client = nullptr;
  Check(exports.create_server(&server) == 1 && server != nullptr, "CreatePipeServer");
  Check(exports.create_client(&client) == 1 && client != nullptr, "CreatePipeClient");
  if (server == nullptr || client == nullptr) return 1;
  Check(g_log_constructor == 1, "the log sink sees the server's constructor line");

  void* same = nullptr;
  Check(server->QueryInterface(Quenlo::IID_IMSUnknown, &same) == Quenlo::kQueryInterfaceOk &&
            same == server,
        "server QueryInterface(IMSUnknown) is the same object");
  Check(server->AddRef() == 3 && server->Release() == 2 && server->Release() == 1,
        "QueryInterface added one reference to the server");
  same = &same;
  Check(server->QueryInterface(Quenlo::IID_IPipeClient, &same) == Quenlo::kNoInterface &&
            same == nullptr,
        "server QueryInterface(IPipeClient) is refused with a null result");
  Check(client->QueryInterface(Quenlo::IID_IPipeClient, &same) == Quenlo::kQueryInterfaceOk &&
            same == client && client->Release() == 1,
        "client QueryInterface(IPipeClient) is the same object, one reference more");

  Check(server->SendMessage(1, "x", 1) == 0 && g_log_failure_with_base_name == 1,
        "SendMessage before Open fails; its log line names PipeServer.cpp only");

  Side* const sides[] = {&g_server_side, &g_client_side};
  for (Side* side : sides) {
    side->connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    side->message = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    side->video = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  server->SetCallback(OnEvent, &g_server_side);
  client->SetCallback(OnEvent, &g_client_side);
  server->Open(L"msvc-host", 1);
  Check(client->Create(L"msvc-host", 1) == 1, "client Create");
  Exchange(server, client);

  // Orderly shutdown: the client first, then the server; the last Release
  // of each ends its threads.
  client->Destroy();
  Check(client->Release() == 0, "the client's last Release returns 0");
  server->Close();
  Check(server->Release() == 0, "the server's last Release returns 0");
  Check(g_client_side.disconnected >= 1, "the client reports EVENT_DISCONNECTED");
  const uint32_t lines = g_log_lines;
  exports.set_log_callback(nullptr);
  Check(lines > 5, "the log sink received the library's lines");
#if defined(QUENLO_BY_ORDINAL)
  Check(FreeLibrary(module) != FALSE, "FreeLibrary");
#endif
  Say(host_check::Failures() == 0 ? "msvc-host: all checks passed\n"
                                  : "msvc-host: some checks failed\n");
  return host_check::Failures() == 0 ? 0 : 1;
}
