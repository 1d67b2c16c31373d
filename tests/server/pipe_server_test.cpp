// The pipe server with real clients. Most cases run the client in a second
// process (this binary started again in a client role, using the library's
// real PipeClient); a few play the client with raw pipe calls to send what
// a real client never would.
#include "Quenlo/PipeServer.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/Common/LogFile.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/PipeLimits.h"
#include "Quenlo/Quenlo.h"
#include "server_test_support.h"
#include "tests/rings_win/global_mapping_seam.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/log_capture.h"
#include "tests/support/named_objects.h"
#include "tests/support/raw_pipe.h"
#include "tests/support/unique_name.h"
#include "tests/support/wait_until.h"
#include "tools/common/quenlo_exports.h"

namespace {

using BrisqFramework::BrisqHandle;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using Quenlo::IPipeClient;
using Quenlo::IPipeServer;
using test_support::ChildProcess;
using test_support::EventRecorder;
using test_support::LogCapture;
using test_support::PipeEvent;
using test_support::PipeExists;
using test_support::UniqueName;
using test_support::WaitUntil;
using namespace server_test;

// --- What the client role sends -------------------------------------------------------

// Commands from the server (message types) and the client's answers.
constexpr uint32_t kCmdVideo = 1;   // write one video frame
constexpr uint32_t kCmdAudio = 2;   // write one audio packet, answer kAudioDone
constexpr uint32_t kCmdEcho = 3;    // answer kEchoed with the same bytes
constexpr uint32_t kCmdFlood = 5;   // send kFloodCount messages of type kFlood at once
constexpr uint32_t kCmdStream = 6;  // write video frames without pause until the link ends
constexpr uint32_t kCmdQuit = 7;    // tear the client down (Destroy) and end
constexpr uint32_t kReady = 100;    // sent on EVENT_CONNECTED
constexpr uint32_t kAudioDone = 102;
constexpr uint32_t kEchoed = 103;
constexpr uint32_t kFlood = 105;
constexpr int kFloodCount = 50;

constexpr uint32_t kWidth = 900;
constexpr uint32_t kHeight = 180;
constexpr uint32_t kStride = kWidth * 4;
constexpr uint32_t kAudioBytes = 4096;
constexpr uint64_t kStamp = 0x1122334455667788ull;

uint8_t VideoByte(uint32_t row, uint32_t column) {
  return static_cast<uint8_t>(row * 31 + column * 7 + 13);
}
uint8_t AudioByte(uint32_t i) { return static_cast<uint8_t>(i * 5 + 3); }

struct Media {
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> samples;
  MediaPacket video = {};
  MediaPacket audio = {};

  Media() : pixels(kStride * kHeight), samples(kAudioBytes) {
    for (uint32_t r = 0; r < kHeight; ++r) {
      for (uint32_t c = 0; c < kStride; ++c) pixels[r * kStride + c] = VideoByte(r, c);
    }
    for (uint32_t i = 0; i < kAudioBytes; ++i) samples[i] = AudioByte(i);
    video.kind = MEDIA_PACKET_VIDEO;
    video.reserved8 = 0xABCD1234u;
    video.width = kWidth;
    video.height = kHeight;
    video.video_info0 = 30;
    video.video_info1 = 1;
    video.format = 12;
    video.data[0] = pixels.data();
    video.linesize[0] = static_cast<int32_t>(kStride);
    video.timestamp = kStamp;
    audio.kind = MEDIA_PACKET_AUDIO;
    audio.width = 48000;
    audio.data[0] = samples.data();
    audio.audio_bytes = kAudioBytes;
    audio.timestamp = kStamp + 1;
  }
};

// The server's check of a delivered packet, made while its planes are valid.
bool PayloadIsExpected(const MediaPacket& p) {
  if (p.kind == MEDIA_PACKET_VIDEO) {
    if (p.width != kWidth || p.height != kHeight || p.format != 12 ||
        p.linesize[0] != static_cast<int32_t>(kStride) || p.data[0] == nullptr) {
      return false;
    }
    std::vector<uint8_t> row(kStride);
    for (uint32_t r = 0; r < kHeight; ++r) {
      for (uint32_t c = 0; c < kStride; ++c) row[c] = VideoByte(r, c);
      if (std::memcmp(p.data[0] + static_cast<size_t>(r) * kStride, row.data(), kStride) != 0) {
        return false;
      }
    }
    return true;
  }
  if (p.kind == MEDIA_PACKET_AUDIO) {
    if (p.audio_bytes != kAudioBytes || p.data[0] == nullptr) return false;
    for (uint32_t i = 0; i < kAudioBytes; ++i) {
      if (p.data[0][i] != AudioByte(i)) return false;
    }
    return true;
  }
  return false;
}

// --- The client role -------------------------------------------------------------------

class ClientRole {
 public:
  int Run(const std::wstring& name, uint32_t channels) {
    if (!CreatePipeClient(&client_)) return 10;
    client_->SetCallback(&ClientRole::Callback, this);
    if (!client_->Create(name.c_str(), channels)) return 11;
    const DWORD waited = ::WaitForSingleObject(done_.Get(), 60000);
    stop_ = true;
    {
      std::lock_guard<std::mutex> lock(threads_lock_);
      for (std::thread& t : threads_) t.join();
    }
    client_->Destroy();
    client_->Release();
    return waited == WAIT_OBJECT_0 ? 0 : 12;
  }

 private:
  static void Callback(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                       void* context) {
    auto* self = static_cast<ClientRole*>(context);
    switch (event) {
      case EVENT_CONNECTED:
        self->client_->SendMessage(kReady, "ready", 5);
        break;
      case EVENT_MESSAGE:
        self->OnCommand(type, data, length);
        break;
      case EVENT_BROKEN:
      case EVENT_DISCONNECTED:
      case EVENT_CONNECTION_RESET:
        self->stop_ = true;
        ::SetEvent(self->done_.Get());
        break;
      default:
        break;
    }
  }

  void OnCommand(uint32_t type, const char* data, uint32_t length) {
    switch (type) {
      case kCmdVideo:
        client_->WritePacket(&media_.video, 80);
        break;
      case kCmdAudio: {
        const ULONGLONG start = ::GetTickCount64();
        client_->WritePacket(&media_.audio, 5000);
        const std::string elapsed = std::to_string(::GetTickCount64() - start);
        client_->SendMessage(kAudioDone, elapsed.data(), static_cast<uint32_t>(elapsed.size()));
        break;
      }
      case kCmdEcho:
        client_->SendMessage(kEchoed, data, length);
        break;
      case kCmdFlood:
        Spawn([this] {
          for (int i = 0; i < kFloodCount && !stop_; ++i) client_->SendMessage(kFlood, "f", 1);
        });
        break;
      case kCmdQuit:
        ::SetEvent(done_.Get());
        break;
      case kCmdStream:
        Spawn([this] {
          while (!stop_) {
            client_->WritePacketAsync(&media_.video);
            ::Sleep(1);
          }
        });
        break;
      default:
        break;
    }
  }

  template <class F>
  void Spawn(F body) {
    std::lock_guard<std::mutex> lock(threads_lock_);
    threads_.emplace_back(body);
  }

  IPipeClient* client_ = nullptr;
  Media media_;
  BrisqHandle done_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> stop_{false};
  std::mutex threads_lock_;
  std::vector<std::thread> threads_;
};

// "--server-client <pipe> <channels> [--deny-global]": the client role; with
// --deny-global its "Global\" mappings are refused as an ordinary user's
// are. "--linger": a process that only waits (to hold inherited handles).
int CheckClientRole() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv != nullptr && (argc == 4 || argc == 5) && std::wstring(argv[1]) == L"--server-client") {
    std::unique_ptr<ring_test::GlobalMappingSeam> seam;
    if (argc == 5 && std::wstring(argv[4]) == L"--deny-global") {
      seam = std::make_unique<ring_test::GlobalMappingSeam>(true);
    }
    ClientRole role;
    ::ExitProcess(static_cast<UINT>(role.Run(argv[2], static_cast<uint32_t>(_wtoi(argv[3])))));
  }
  if (argv != nullptr && argc == 2 && std::wstring(argv[1]) == L"--linger") {
    ::Sleep(60000);
    ::ExitProcess(0);
  }
  if (argv != nullptr) ::LocalFree(argv);
  return 0;
}
const int kClientRole = CheckClientRole();

// --- Server side helpers ------------------------------------------------------------------

IPipeServer* NewServer() {
  IPipeServer* server = nullptr;
  EXPECT_EQ(CreatePipeServer(&server), 1);
  return server;
}

std::string Text(const PipeEvent& e) { return e.data; }

// A server with a recorder, opened under a fresh name.
struct OpenServer {
  LogCapture& capture;
  EventRecorder recorder;
  ServerRef server{NewServer()};
  std::wstring name;

  OpenServer(LogCapture& log, const wchar_t* tag, uint32_t channels = 1)
      : capture(log), name(UniqueName(tag)) {
    recorder.check_payload = &PayloadIsExpected;
    server->SetCallback(&EventRecorder::Callback, &recorder);
    const int created = capture.Count(kLogInfo, "[PipeServer] Create(end,...)");
    EXPECT_EQ(server->Open(name.c_str(), channels), 1);
    EXPECT_TRUE(WaitForLine(kLogInfo, "[PipeServer] Create(end,...)", created + 1));
  }

  bool WaitForLine(int32_t severity, const std::string& text, int count,
                   DWORD timeout_ms = kWaitMs) {
    return WaitUntil([&] { return capture.Count(severity, text) >= count; },
                     std::chrono::milliseconds(timeout_ms));
  }

  // Starts a client process and waits until both ends are up (its kReady
  // is the `nth` one the server received).
  bool Connect(ChildProcess* child, size_t nth = 1, uint32_t channels = 1,
               const std::wstring& extra = L"") {
    if (!child->StartSelf(L"--server-client " + name + L" " + std::to_wstring(channels) + extra)) {
      return false;
    }
    return recorder.WaitForCount(EVENT_MESSAGE, nth, kReady);
  }

  bool Send(uint32_t type, const std::string& text) {
    return server->SendMessage(type, text.data(), static_cast<uint32_t>(text.size())) == 1;
  }
};

// --- SendMessage refusals ------------------------------------------------------------------

TEST(ServerSendMessage, BeforeOpenFailsWithInvalidChannel) {
  LogCapture capture;
  ServerRef server(NewServer());
  EXPECT_EQ(server->SendMessage(1, "x", 1), 0);
  EXPECT_EQ(capture.Count(kLogError, "Failed to SendMessage(invalid channel)"), 1);
}

TEST(ServerSendMessage, AfterTheDestroyTaskFailsWithInvalidChannel) {
  LogCapture capture;
  OpenServer s(capture, L"sendclosed");
  s.server->Close();
  ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Destroy(end,...)", 1));
  EXPECT_EQ(s.server->SendMessage(1, "x", 1), 0);
  EXPECT_EQ(capture.Count(kLogError, "Failed to SendMessage(invalid channel)"), 1);
}

TEST(ServerSendMessage, EmptyOrNullDataFailsWithInvalidParameterAndSendsNothing) {
  LogCapture capture;
  OpenServer s(capture, L"sendempty");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  EXPECT_EQ(s.server->SendMessage(kCmdEcho, "abc", 0), 0);
  EXPECT_EQ(s.server->SendMessage(kCmdEcho, nullptr, 3), 0);
  EXPECT_EQ(capture.Count(kLogError, "Failed to SendMessage(invalid parameter)"), 2);
  // Only the valid message reaches the client: exactly one echo comes back.
  ASSERT_TRUE(s.Send(kCmdEcho, "valid"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kEchoed));
  ::Sleep(200);
  const std::vector<PipeEvent> messages = s.recorder.Of(EVENT_MESSAGE);
  ASSERT_EQ(s.recorder.Count(EVENT_MESSAGE, kEchoed), 1u);
  EXPECT_EQ(Text(messages.back()), "valid");
}

// --- Interface identity and the export -------------------------------------------------------

TEST(ServerInterface, QueryInterfaceAnswersServerAndUnknownIdsWithTheSameObject) {
  LogCapture capture;
  ServerRef server(NewServer());
  void* out = nullptr;
  ASSERT_EQ(server->QueryInterface(Quenlo::IID_IPipeServer, &out), Quenlo::kQueryInterfaceOk);
  EXPECT_EQ(out, static_cast<void*>(server.Get()));
  void* unknown = nullptr;
  ASSERT_EQ(server->QueryInterface(Quenlo::IID_IMSUnknown, &unknown), Quenlo::kQueryInterfaceOk);
  EXPECT_EQ(unknown, static_cast<void*>(server.Get()));
  // One reference from the export and one from each successful query.
  EXPECT_EQ(server->AddRef(), 4u);
  EXPECT_EQ(server->Release(), 3u);
  EXPECT_EQ(server->Release(), 2u);
  EXPECT_EQ(server->Release(), 1u);
}

TEST(ServerInterface, QueryInterfaceRefusesTheClientIdWithNull) {
  LogCapture capture;
  ServerRef server(NewServer());
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(server->QueryInterface(Quenlo::IID_IPipeClient, &out),
            static_cast<int32_t>(0x80004002u));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(server->AddRef(), 2u);  // the refusal added nothing
  server->Release();
}

TEST(ServerInterface, CreatePipeServerIsOrdinalTwoOfTheDll) {
  HMODULE module = ::LoadLibraryW((test_support::BuildFolder() + L"Quenlo.dll").c_str());
  ASSERT_NE(module, nullptr);
  auto create = quenlo_tools::BindOrdinal<PFN_CreatePipeServer>(module, 2);
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(create),
            reinterpret_cast<void*>(::GetProcAddress(module, "CreatePipeServer")));
  EXPECT_EQ(create(nullptr), 0);
  IPipeServer* server = nullptr;
  ASSERT_EQ(create(&server), 1);
  ASSERT_NE(server, nullptr);
  void* out = nullptr;
  EXPECT_EQ(server->QueryInterface(Quenlo::IID_IPipeServer, &out), Quenlo::kQueryInterfaceOk);
  EXPECT_EQ(server->Release(), 1u);
  EXPECT_EQ(server->Release(), 0u);
}

TEST(ServerInterface, LastReleaseLogsOnReleaseAndDestructor) {
  LogCapture capture;
  IPipeServer* server = NewServer();
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] constructor"), 1);
  EXPECT_EQ(server->Release(), 0u);
  const int on_release = capture.IndexOf(kLogInfo, "[PipeServer] OnRelease");
  ASSERT_GE(on_release, 0);
  EXPECT_GT(capture.IndexOf(kLogInfo, "[PipeServer] destructor"), on_release);
}

// --- Lifecycle ------------------------------------------------------------------------------

TEST(ServerLifecycle, CloseBeforeAnyClientReturnsAndLeavesNoThreadBehind) {
  LogCapture capture;
  {
    // Warm-up: the first server of a process may make lasting system threads.
    OpenServer warm(capture, L"warm");
    warm.server->Close();
    ASSERT_TRUE(warm.WaitForLine(kLogInfo, "[PipeServer] Destroy(end,...)", 1));
  }
  const int before = ThreadCount();
  for (int round = 1; round <= 5; ++round) {
    OpenServer s(capture, L"closeearly");
    ASSERT_TRUE(PipeExists(s.name));
    s.server->Close();  // the listen thread waits inside Connect right now
    ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Destroy(end,...)", round + 1));
    EXPECT_FALSE(PipeExists(s.name));
    EXPECT_EQ(s.recorder.Count(EVENT_DISCONNECTED), 1u);
    EXPECT_EQ(s.server.ReleaseNow(), 0u);
  }
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerLifecycle, OpenAgainWithoutCloseReplacesThePreviousPipe) {
  LogCapture capture;
  OpenServer s(capture, L"openfirst");
  const std::wstring second = UniqueName(L"opensecond");
  ASSERT_EQ(s.server->Open(second.c_str(), 1), 1);
  ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Create(end,...)", 2));
  EXPECT_FALSE(PipeExists(s.name));
  EXPECT_TRUE(PipeExists(second));
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Destroy(end,...)"), 1);
  // Clients reach the new pipe, with its one set of channels.
  s.name = second;
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  ASSERT_TRUE(s.Send(kCmdVideo, "v"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 1));
  ::Sleep(300);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
}

// --- Packets and messages across processes -------------------------------------------------------

TEST(ServerPackets, VideoFrameFromAnotherProcessArrivesWithPlanesInTheMapping) {
  LogCapture capture;
  OpenServer s(capture, L"video");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  EXPECT_EQ(s.server->IsConnected(), 1u);
  ASSERT_TRUE(s.Send(kCmdVideo, "v"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 1));

  const PipeEvent packet = s.recorder.Of(EVENT_PACKET)[0];
  EXPECT_EQ(packet.type, 0u);
  ASSERT_EQ(packet.data.size(), 168u);
  EXPECT_TRUE(packet.payload_mapped);
  EXPECT_TRUE(packet.payload_matches);
  // The record's bytes as the client wrote them, plane pointers aside.
  const Media sent;
  MediaPacket got;
  std::memcpy(&got, packet.data.data(), sizeof(got));
  EXPECT_EQ(0, std::memcmp(&got, &sent.video, offsetof(MediaPacket, data)));
  EXPECT_EQ(0, std::memcmp(&got.linesize, &sent.video.linesize,
                           sizeof(MediaPacket) - offsetof(MediaPacket, linesize)));
}

TEST(ServerPackets, AudioPacketArrivesAndIsAcknowledged) {
  LogCapture capture;
  OpenServer s(capture, L"audio");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  ASSERT_TRUE(s.Send(kCmdAudio, "a"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 1));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kAudioDone));
  const PipeEvent packet = s.recorder.Of(EVENT_PACKET)[0];
  EXPECT_TRUE(packet.payload_mapped);
  EXPECT_TRUE(packet.payload_matches);
  // The client waits up to 5000 ms for the acknowledgement; it came at once.
  std::string elapsed;
  for (const PipeEvent& e : s.recorder.Of(EVENT_MESSAGE)) {
    if (e.type == kAudioDone) elapsed = e.data;
  }
  EXPECT_LT(std::stoi(elapsed), 2500) << elapsed;
}

// The acknowledgement wait the client reported for its last kCmdAudio.
int AudioWaitMs(EventRecorder& recorder) {
  std::string elapsed = "-1";
  for (const PipeEvent& e : recorder.Of(EVENT_MESSAGE)) {
    if (e.type == kAudioDone) elapsed = e.data;
  }
  return std::stoi(elapsed);
}

// A panel started by an ordinary user may not create "Global\" mappings;
// both ends go to "Local\" and the media still flows.
TEST(ServerPackets, FramesAndAudioArriveWhenGlobalMappingsAreRefused) {
  LogCapture capture;
  ring_test::GlobalMappingSeam seam(/*deny=*/true);
  OpenServer s(capture, L"localmaps");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child, 1, 1, L" --deny-global"));
  ASSERT_TRUE(s.Send(kCmdVideo, "v"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 1));
  ASSERT_TRUE(s.Send(kCmdAudio, "a"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kAudioDone));
  ASSERT_EQ(s.recorder.Count(EVENT_PACKET), 2u);
  for (const PipeEvent& packet : s.recorder.Of(EVENT_PACKET)) {
    EXPECT_TRUE(packet.payload_mapped);
    EXPECT_TRUE(packet.payload_matches);
  }
  EXPECT_LT(AudioWaitMs(s.recorder), 2500);
  const std::vector<std::wstring> opened = seam.Opened();
  EXPECT_EQ(opened, (std::vector<std::wstring>{
                        L"Global\\PIPE_VIDEO_0_" + s.name, L"Local\\PIPE_VIDEO_0_" + s.name,
                        L"Global\\PIPE_AUDIO_0_" + s.name, L"Local\\PIPE_AUDIO_0_" + s.name}));
}

// A slot the reader refuses still releases the writer waiting for it.
TEST(ServerPackets, RefusedAudioSlotIsStillAcknowledged) {
  LogCapture capture;
  OpenServer s(capture, L"audioack");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  ASSERT_TRUE(s.Send(kCmdAudio, "a"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kAudioDone));
  {
    // Another party spoils the ring's geometry: more slots than the mapping holds.
    BrisqHandle mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE,
                                           (L"Global\\PIPE_AUDIO_0_" + s.name).c_str()));
    ASSERT_TRUE(mapping.IsValid());
    void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 48);
    ASSERT_NE(view, nullptr);
    static_cast<uint32_t*>(view)[3] = 5;  // slotCount at offset 12
    ::UnmapViewOfFile(view);
  }
  ASSERT_TRUE(s.Send(kCmdAudio, "a"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 2, kAudioDone));
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
  EXPECT_EQ(capture.Count(kLogError, "Failed to ReadPacket(invalid ring header(123048,5,492240))"),
            1);
  EXPECT_LT(AudioWaitMs(s.recorder), 2500) << "the writer waited out its 5000 ms";
}

// The client's teardown wakes the video reader once more without a frame.
TEST(ServerPackets, ClientTeardownDeliversNoPhantomFrame) {
  LogCapture capture;
  OpenServer s(capture, L"phantom");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  ASSERT_TRUE(s.Send(kCmdVideo, "v"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 1));
  ASSERT_TRUE(s.Send(kCmdQuit, "q"));
  EXPECT_EQ(child.Wait(), 0u);
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_BROKEN, 1));
  ::Sleep(300);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
}

TEST(ServerMessages, TravelBothWaysWithTheirBytes) {
  LogCapture capture;
  OpenServer s(capture, L"messages");
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child));
  EXPECT_EQ(Text(s.recorder.Of(EVENT_MESSAGE)[0]), "ready");
  const std::string texts[] = {"{\"a\":1}", std::string("\0\x01\xff", 3), std::string(10000, 'z')};
  for (const std::string& text : texts) ASSERT_TRUE(s.Send(kCmdEcho, text));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 3, kEchoed));
  std::vector<std::string> echoed;
  for (const PipeEvent& e : s.recorder.Of(EVENT_MESSAGE)) {
    if (e.type == kEchoed) echoed.push_back(e.data);
  }
  EXPECT_EQ(echoed, std::vector<std::string>(std::begin(texts), std::end(texts)));
}

TEST(ServerMessages, TwoMessagesWithinTwoSecondsLogAtMostOneLineWhileTheCallbackSeesBoth) {
  LogCapture capture;
  OpenServer s(capture, L"ratelimit");
  ChildProcess child;
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(s.Connect(&child));
  ASSERT_TRUE(s.Send(kCmdEcho, "one"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kEchoed));
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  EXPECT_EQ(s.recorder.Count(EVENT_MESSAGE), 2u);
  int lines = 0;
  for (const auto& line : capture.Lines()) {
    lines += line.message.rfind("[PipeServer] EVENT_MESSAGE , msgId = ", 0) == 0;
  }
  if (elapsed < 2000) {
    EXPECT_LE(lines, 1);
  }
}

// --- Rebuild after a broken pipe
// ------------------------------------------------------------------

TEST(ServerRebuild, TwentyKilledClientsInARowEachReplacedUnderTheSameNameWithFlatHandles) {
  LogCapture capture;
  OpenServer s(capture, L"rebuild");
  size_t ready = 0;
  size_t packets = 0;
  int rebuilt = 0;
  auto cycle = [&] {
    ChildProcess child;
    ASSERT_TRUE(s.Connect(&child, ++ready));
    ASSERT_EQ(s.server->IsConnected(), 1u);
    ASSERT_TRUE(s.Send(kCmdVideo, "v"));
    ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, ++packets));
    child.Kill();
    ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Recreate(end,...)", ++rebuilt));
    EXPECT_EQ(s.server->IsConnected(), 0u);
  };
  // One round first: the first connection creates lasting per-process state
  // (the mapping's section objects are cached by the system, thread pools).
  cycle();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  const DWORD before = HandleCount();
  for (int i = 0; i < 20; ++i) {
    cycle();
    ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << i;
  }
  const DWORD after = HandleCount();
  EXPECT_EQ(s.recorder.Count(EVENT_CONNECTED), 21u);
  EXPECT_EQ(s.recorder.Count(EVENT_BROKEN), 21u);
  EXPECT_TRUE(s.recorder.Of(EVENT_PACKET).back().payload_matches);
  // Each round makes and drops a pipe, its events and port, three semaphore
  // and event handles, two mappings and five threads: a leak of any of them
  // grows the count by 20 or more. The small allowance covers handles the
  // system keeps in caches of its own between rounds.
  EXPECT_GT(before, 0u);
  EXPECT_LE(after, before + 4) << "before " << before << ", after " << after;
}

// A child that a host started with handle inheritance must not hold the
// server's end: the rebuilt pipe would stay busy.
TEST(ServerRebuild, NextClientIsAcceptedWhileAChildThatInheritedHandlesRuns) {
  LogCapture capture;
  OpenServer s(capture, L"inherit");
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  BrisqHandle output(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
  ChildProcess first;
  ASSERT_TRUE(s.Connect(&first));
  test_support::ChildOptions options;
  options.output = output.Get();
  options.inherit_all_handles = true;  // every inheritable handle of this process
  ChildProcess lingering;
  ASSERT_TRUE(lingering.StartSelf(L"--linger", options));
  first.Kill();
  ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Recreate(end,...)", 1));
  ChildProcess second;
  EXPECT_TRUE(s.Connect(&second, 2));
  EXPECT_EQ(capture.Count(kLogError, "Failed to Create"), 0);
}

// --- Mended faults -----------------------------------------------------------------------------

TEST(ServerMended, PipeNameLongerThan129IsRefusedByTheOpenTaskWithoutAnyPipe) {
  LogCapture capture;
  ServerRef server(NewServer());
  const std::wstring fits = UniqueName(L"x") + std::wstring(200, L'n');
  const std::wstring too_long = fits.substr(0, 130);
  EXPECT_EQ(server->Open(too_long.c_str(), 1), 1);  // Open itself reports nothing
  ASSERT_TRUE(WaitUntil(
      [&] { return capture.Count(kLogError, "Failed to Open(pipe name too long)") == 1; }));
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Open(end...) res = 1"), 1);
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Create(begin,...)"), 0);
  EXPECT_FALSE(PipeExists(too_long.substr(0, 129)));  // not cut and opened either
  EXPECT_EQ(server->SendMessage(1, "x", 1), 0);

  // 129 characters fit exactly.
  ASSERT_EQ(server->Open(too_long.substr(0, 129).c_str(), 1), 1);
  ASSERT_TRUE(
      WaitUntil([&] { return capture.Count(kLogInfo, "[PipeServer] Create(end,...)") == 1; }));
  EXPECT_TRUE(PipeExists(too_long.substr(0, 129)));
  server->Close();
}

TEST(ServerMended, ChannelCountAboveTheLimitIsRefusedWithoutItemsOrPipe) {
  LogCapture capture;
  ServerRef server(NewServer());
  const std::wstring name = UniqueName(L"count");
  EXPECT_EQ(server->Open(name.c_str(), Quenlo::kMaxPipeChannels + 1), 1);
  EXPECT_EQ(server->Open(name.c_str(), 0xFFFFFFFFu), 1);
  ASSERT_TRUE(WaitUntil(
      [&] { return capture.Count(kLogError, "Failed to Open(too many channels)") == 2; }));
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Create(begin,...)"), 0);
  EXPECT_FALSE(PipeExists(name));

  // The limit itself is accepted.
  const int threads = ThreadCount();
  ASSERT_EQ(server->Open(name.c_str(), Quenlo::kMaxPipeChannels), 1);
  ASSERT_TRUE(
      WaitUntil([&] { return capture.Count(kLogInfo, "[PipeServer] Create(end,...)") == 1; }));
  EXPECT_TRUE(PipeExists(name));
  // The listen thread and the pipe's reader: items make no threads before
  // a client connects.
  EXPECT_LE(ThreadCount(), threads + 2);
  server->Close();
}

TEST(ServerMended, OpenAndImmediateCloseRepeatedKeepEveryListenChannelAlive) {
  LogCapture capture;
  ServerRef warm(NewServer());
  warm.ReleaseNow();
  const int before = ThreadCount();
  for (int round = 0; round < 20; ++round) {
    ServerRef server(NewServer());
    const std::wstring name = UniqueName(L"flash");
    server->Open(name.c_str(), 2);
    server->Close();
    // Released at once: queued tasks may be dropped, and the last Release
    // tears down what they left.
  }
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerMended, LastReleaseWhileOpenAndStreamingTearsDownAndJoinsEveryThread) {
  LogCapture capture;
  const int before = ThreadCount();
  OpenServer s(capture, L"release", 2);
  ChildProcess child;
  ASSERT_TRUE(s.Connect(&child, 1, 2));
  ASSERT_TRUE(s.Send(kCmdStream, "s"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_PACKET, 20));
  // No Close: the readers are busy delivering packets into the callback.
  EXPECT_EQ(s.server.ReleaseNow(), 0u);
  const size_t delivered = s.recorder.Count(EVENT_PACKET);
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Destroy(end,...)"), 1);
  ::Sleep(200);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), delivered);  // nothing after the release
  EXPECT_EQ(child.Wait(), 0u);                           // the client saw the pipe go
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerMended, CloseWhileTheCallbackAnswersEveryMessageNeverDeadlocks) {
  LogCapture capture;
  OpenServer s(capture, L"answer");
  std::atomic<bool> answering{true};
  s.recorder.on_event = [&](uint32_t event, uint32_t, const char* data, uint32_t length) {
    // Every message is answered with an echo request, which the client
    // answers again: an endless exchange, many of them in flight.
    if (event == EVENT_MESSAGE && answering) s.server->SendMessage(kCmdEcho, data, length);
  };
  for (int round = 1; round <= 10; ++round) {
    if (round > 1) {
      ASSERT_EQ(s.server->Open(s.name.c_str(), 1), 1);
      ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Create(end,...)", round));
    }
    ChildProcess child;
    const size_t seen = s.recorder.Count(EVENT_MESSAGE);
    ASSERT_TRUE(s.Connect(&child, round));
    ASSERT_TRUE(s.Send(kCmdFlood, "go"));
    ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, seen + 300));
    s.server->Close();
    const bool finished = s.WaitForLine(kLogInfo, "[PipeServer] Destroy(end,...)", round, 15000);
    if (!finished) {
      s.server.Leak();  // a deadlocked server cannot be released
      FAIL() << "Close deadlocked in round " << round;
    }
    EXPECT_EQ(child.Wait(), 0u);
  }
  answering = false;
  // Sends that raced the teardown failed cleanly, never with another text.
  for (const auto& line : capture.Lines()) {
    if (line.severity == kLogError && line.message.rfind("Failed to SendMessage", 0) == 0) {
      EXPECT_EQ(line.message, "Failed to SendMessage(invalid channel)");
    }
  }
}

TEST(ServerMended, CloseRacingAClientDeathLeavesNoListeningPipe) {
  LogCapture capture;
  OpenServer s(capture, L"closedeath");
  for (int round = 1; round <= 5; ++round) {
    if (round > 1) {
      ASSERT_EQ(s.server->Open(s.name.c_str(), 1), 1);
      ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Create(end,...)", round));
    }
    ChildProcess child;
    ASSERT_TRUE(s.Connect(&child, round));
    // The break reaches the server while its destroy task is queued or runs.
    s.server->Close();
    child.Kill();
    ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Destroy(end,...)", round));
    ::Sleep(300);  // time for a rebuild task queued by the break
    EXPECT_FALSE(PipeExists(s.name)) << "round " << round;
    EXPECT_EQ(s.server->IsConnected(), 0u);
  }
}

// --- Event hook against a raw client
// ------------------------------------------------------------------

// A client end of the pipe written by hand, with the kernel objects of
// channel 0 made (or not) as a real client would.
struct RawClient {
  BrisqHandle video_semaphore;
  BrisqHandle audio_semaphore;
  BrisqHandle audio_event;
  test_support::RawPipe pipe;

  void MakeChannelObjects(const std::wstring& name) {
    video_semaphore.Reset(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF,
                                             (L"Global\\VideoPipeSemaphore_0_" + name).c_str()));
    audio_semaphore.Reset(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF,
                                             (L"Global\\AudioPipeSemaphore_0_" + name).c_str()));
    audio_event.Reset(
        ::CreateEventW(nullptr, FALSE, FALSE, (L"Global\\AudioPipeEvent_0_" + name).c_str()));
  }
  bool Connect(const std::wstring& name) { return pipe.OpenClient(name); }
  bool SendHello() {
    return pipe.Write(test_support::HelloMessage(static_cast<int32_t>(::GetCurrentProcessId())));
  }
  void Disconnect() { pipe.Close(); }
};

TEST(ServerEvents, RepeatedHelloStartsNoSecondReaderAndABreakRebuilds) {
  LogCapture capture;
  OpenServer s(capture, L"rehello");
  RawClient client;
  client.MakeChannelObjects(s.name);
  ASSERT_TRUE(client.Connect(s.name));
  ASSERT_TRUE(client.SendHello());
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_CONNECTED, 1));
  ASSERT_TRUE(client.SendHello());
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_CONNECTED, 2));
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] EVENT_CONNECTED"), 2);
  // Two wake-ups without a mapping: one reader per kind logs once and ends;
  // a second reader would take the second wake-up and log again.
  ::ReleaseSemaphore(client.video_semaphore.Get(), 2, nullptr);
  ::ReleaseSemaphore(client.audio_semaphore.Get(), 2, nullptr);
  ASSERT_TRUE(s.WaitForLine(kLogError, "Failed to ReadVideo(memory can't open)", 1));
  ASSERT_TRUE(s.WaitForLine(kLogError, "Failed to ReadAudio(memory can't open)", 1));
  ::Sleep(300);
  EXPECT_EQ(capture.Count(kLogError, "Failed to ReadVideo(memory can't open)"), 1);
  EXPECT_EQ(capture.Count(kLogError, "Failed to ReadAudio(memory can't open)"), 1);

  client.Disconnect();
  ASSERT_TRUE(s.WaitForLine(kLogInfo, "[PipeServer] Recreate(end,...)", 1));
  EXPECT_EQ(s.recorder.Count(EVENT_BROKEN), 1u);
  EXPECT_EQ(s.recorder.Count(EVENT_DISCONNECTED), 1u);  // the old pipe's close
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Recreate(begin,...)"), 1);
  RawClient next;
  EXPECT_TRUE(next.Connect(s.name));
}

TEST(ServerEvents, MissingChannelObjectsAreReportedPerChannel) {
  LogCapture capture;
  OpenServer s(capture, L"noobjects");
  RawClient client;  // makes no semaphores and no event
  ASSERT_TRUE(client.Connect(s.name));
  ASSERT_TRUE(client.SendHello());
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_CONNECTED, 1));
  const std::string not_found = BrisqFramework::BrisqErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(s.WaitForLine(kLogError, "Failed to OpenSemaphoreW(" + not_found + ", 0)", 1));
  EXPECT_TRUE(
      s.WaitForLine(kLogError, "Failed to OpenSemaphoreW or OpenEvent(" + not_found + ", 0)", 1));
  EXPECT_EQ(s.server->IsConnected(), 1u);  // messages still flow
}

// --- Log file
// ---------------------------------------------------------------------------------------

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ServerLogFile, OpenLogFileWritesTheLibrarysLinesToThePathAndToTheDefaultName) {
  BrisqFramework::SetLogOutputHook(nullptr);  // no sink: lines go to the file
  ServerRef server(NewServer());
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + UniqueName(L"log") + L".log";
  ASSERT_EQ(server->OpenLogFile(path.c_str()), 1);
  server->SetCallback(nullptr, nullptr);
  EXPECT_NE(ReadAll(path).find("INFO] : [PipeServer] SetCallback\n"), std::string::npos);

  // The default: beside the executable, named after the time and the process.
  const size_t first_size = ReadAll(path).size();
  ASSERT_EQ(server->OpenLogFile(nullptr), 1);
  const std::wstring chosen = BrisqFramework::LogFilePath();
  const std::wstring suffix = L"-" + std::to_wstring(::GetCurrentProcessId()) + L".log";
  wchar_t self[MAX_PATH];
  const std::wstring exe(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  const std::wstring dir = exe.substr(0, exe.rfind(L'\\') + 1);
  EXPECT_EQ(chosen.rfind(dir, 0), 0u);
  ASSERT_GT(chosen.size(), suffix.size());
  EXPECT_EQ(chosen.substr(chosen.size() - suffix.size()), suffix);
  EXPECT_EQ(chosen.size(), dir.size() + 17 + suffix.size());  // "YYYYMMDD hh-mm-ss"
  server->SetCallback(nullptr, nullptr);
  EXPECT_NE(ReadAll(chosen).find("[PipeServer] SetCallback\n"), std::string::npos);
  EXPECT_EQ(ReadAll(path).size(), first_size);  // the earlier file was closed

  // An empty path also means the default; an unreachable one closes the file.
  EXPECT_EQ(server->OpenLogFile(L""), 1);
  const std::wstring again = BrisqFramework::LogFilePath();
  EXPECT_EQ(again.rfind(dir, 0), 0u);
  EXPECT_EQ(server->OpenLogFile((std::wstring(temp) + L"no\\such\\dir\\x.log").c_str()), 0);
  ::DeleteFileW(path.c_str());
  ::DeleteFileW(chosen.c_str());
  ::DeleteFileW(again.c_str());
}

}  // namespace
