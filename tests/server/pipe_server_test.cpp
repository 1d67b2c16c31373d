// The pipe server with real clients. Most cases run the client in a second
// process (this binary started again in a client role, using the library's
// real PipeClient); a few play the client with raw pipe calls to send what
// a real client never would.
#include "Quenlo/PipeServer.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/LogFile.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/PipeLimits.h"
#include "server_test_support.h"
#include "tests/rings_win/global_mapping_seam.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/log_capture.h"
#include "tests/support/named_objects.h"
#include "tests/support/raw_pipe.h"
#include "tools/common/quenlo_exports.h"

namespace {

using BrisqFramework::BrisqHandle;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using Quenlo::IPipeClient;
using Quenlo::IPipeServer;
using namespace server_test;
using namespace test_support;

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
    if (event == EVENT_CONNECTED) self->client_->SendMessage(kReady, "ready", 5);
    if (event == EVENT_MESSAGE) self->OnCommand(type, data, length);
    if (event == EVENT_BROKEN || event == EVENT_DISCONNECTED || event == EVENT_CONNECTION_RESET) {
      self->stop_ = true;
      ::SetEvent(self->done_.Get());
    }
  }

  void OnCommand(uint32_t type, const char* data, uint32_t length) {
    if (type == kCmdVideo) client_->WritePacket(&media_.video, 80);
    if (type == kCmdEcho) client_->SendMessage(kEchoed, data, length);
    if (type == kCmdQuit) ::SetEvent(done_.Get());
    if (type == kCmdAudio) {
      const ULONGLONG start = ::GetTickCount64();
      client_->WritePacket(&media_.audio, 5000);
      const std::string elapsed = std::to_string(::GetTickCount64() - start);
      client_->SendMessage(kAudioDone, elapsed.data(), static_cast<uint32_t>(elapsed.size()));
    }
    if (type != kCmdFlood && type != kCmdStream) return;
    std::lock_guard<std::mutex> lock(threads_lock_);
    threads_.emplace_back([this, type] {
      for (int i = 0; type == kCmdFlood && i < kFloodCount && !stop_; ++i) {
        client_->SendMessage(kFlood, "f", 1);
      }
      for (; type == kCmdStream && !stop_; ::Sleep(1)) client_->WritePacketAsync(&media_.video);
    });
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
  const std::wstring role = argv != nullptr && argc > 1 ? argv[1] : L"";
  if (role == L"--server-client" && (argc == 4 || argc == 5)) {
    std::unique_ptr<ring_test::GlobalMappingSeam> seam;
    if (argc == 5 && std::wstring(argv[4]) == L"--deny-global") {
      seam = std::make_unique<ring_test::GlobalMappingSeam>(true);
    }
    ClientRole client;
    ::ExitProcess(static_cast<UINT>(client.Run(argv[2], static_cast<uint32_t>(_wtoi(argv[3])))));
  }
  if (role == L"--linger" && argc == 2) {
    ::Sleep(60000);
    ::ExitProcess(0);
  }
  if (argv != nullptr) ::LocalFree(argv);
  return 0;
}
const int kClientRole = CheckClientRole();

// --- Server side helpers ------------------------------------------------------------------

const char kCreateEnd[] = "[PipeServer] Create(end,...)";
const char kDestroyEnd[] = "[PipeServer] Destroy(end,...)";
const char kRecreateEnd[] = "[PipeServer] Recreate(end,...)";
const char kInvalidChannel[] = "Failed to SendMessage(invalid channel)";

IPipeServer* NewServer() {
  IPipeServer* server = nullptr;
  EXPECT_EQ(CreatePipeServer(&server), 1);
  return server;
}

// A server with its own log capture and recorder, opened under a fresh name,
// and the client process of the test.
struct OpenServer {
  LogCapture capture;
  EventRecorder recorder;
  ServerRef server{NewServer()};
  std::wstring name;
  uint32_t channels;
  ChildProcess child;  // ends first, while the server still runs

  explicit OpenServer(const wchar_t* tag, uint32_t channel_count = 1)
      : name(UniqueName(tag)), channels(channel_count) {
    recorder.check_payload = &PayloadIsExpected;
    server->SetCallback(&EventRecorder::Callback, &recorder);
    EXPECT_TRUE(Reopen(1));
  }

  bool WaitForLine(const std::string& text, int count, int32_t severity = kLogInfo,
                   int timeout_ms = 20000) {
    return capture.WaitFor(severity, text, count, timeout_ms);
  }
  // Opens `name` and waits for the `nth` pipe made.
  bool Reopen(int nth) {
    return server->Open(name.c_str(), channels) == 1 && WaitForLine(kCreateEnd, nth);
  }
  // (Re)starts the client process and waits until both ends are up (its
  // kReady is the `nth` one the server received).
  bool Connect(size_t nth = 1, const std::wstring& extra = L"") {
    return child.StartSelf(L"--server-client " + name + L" " + std::to_wstring(channels) + extra) &&
           recorder.WaitForCount(EVENT_MESSAGE, nth, kReady);
  }
  bool Send(uint32_t type, const std::string& text) {
    return server->SendMessage(type, text.data(), static_cast<uint32_t>(text.size())) == 1;
  }
  // Sends a command and waits until `count` events of the kind (and type) came.
  bool Ask(uint32_t command, uint32_t event, size_t count,
           uint32_t type = EventRecorder::kAnyType) {
    return Send(command, "c") && recorder.WaitForCount(event, count, type);
  }
  std::vector<std::string> Received(uint32_t type) const {
    std::vector<std::string> texts;
    for (const PipeEvent& e : recorder.Of(EVENT_MESSAGE)) {
      if (e.type == type) texts.push_back(e.data);
    }
    return texts;
  }
  // The acknowledgement wait the client reported for its last kCmdAudio.
  int AudioWaitMs() const {
    const std::vector<std::string> done = Received(kAudioDone);
    return done.empty() ? -1 : std::stoi(done.back());
  }
};

// --- SendMessage refusals ------------------------------------------------------------------

TEST(ServerSendMessage, BeforeOpenFailsWithInvalidChannel) {
  LogCapture capture;
  ServerRef server(NewServer());
  EXPECT_EQ(server->SendMessage(1, "x", 1), 0);
  EXPECT_EQ(capture.Count(kLogError, kInvalidChannel), 1);
}

TEST(ServerSendMessage, AfterTheDestroyTaskFailsWithInvalidChannel) {
  OpenServer s(L"sendclosed");
  s.server->Close();
  ASSERT_TRUE(s.WaitForLine(kDestroyEnd, 1));
  EXPECT_EQ(s.server->SendMessage(1, "x", 1), 0);
  EXPECT_EQ(s.capture.Count(kLogError, kInvalidChannel), 1);
}

TEST(ServerSendMessage, EmptyOrNullDataFailsWithInvalidParameterAndSendsNothing) {
  OpenServer s(L"sendempty");
  ASSERT_TRUE(s.Connect());
  EXPECT_EQ(s.server->SendMessage(kCmdEcho, "abc", 0), 0);
  EXPECT_EQ(s.server->SendMessage(kCmdEcho, nullptr, 3), 0);
  EXPECT_EQ(s.capture.Count(kLogError, "Failed to SendMessage(invalid parameter)"), 2);
  // Only the valid message reaches the client: exactly one echo comes back.
  ASSERT_TRUE(s.Send(kCmdEcho, "valid"));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kEchoed));
  ::Sleep(200);
  EXPECT_EQ(s.Received(kEchoed), std::vector<std::string>{"valid"});
}

// --- Interface identity and the export -------------------------------------------------------

TEST(ServerInterface, QueryInterfaceAnswersServerAndUnknownIdsWithTheSameObject) {
  LogCapture capture;
  ServerRef server(NewServer());
  for (const auto& id : {Quenlo::IID_IPipeServer, Quenlo::IID_IMSUnknown}) {
    void* out = nullptr;
    ASSERT_EQ(server->QueryInterface(id, &out), Quenlo::kQueryInterfaceOk);
    EXPECT_EQ(out, static_cast<void*>(server.get()));
  }
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
  HMODULE module = ::LoadLibraryW((BuildFolder() + L"Quenlo.dll").c_str());
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
  int before = 0;
  // Round 0 warms up: the first server of a process may make lasting system threads.
  for (int round = 0; round <= 5; ++round) {
    if (round == 1) before = ThreadCount();
    OpenServer s(L"closeearly");
    ASSERT_TRUE(PipeExists(s.name));
    s.server->Close();  // the listen thread waits inside Connect right now
    ASSERT_TRUE(s.WaitForLine(kDestroyEnd, 1));
    EXPECT_FALSE(PipeExists(s.name));
    EXPECT_EQ(s.recorder.Count(EVENT_DISCONNECTED), 1u);
    EXPECT_EQ(s.server.release()->Release(), 0u);
  }
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerLifecycle, OpenAgainWithoutCloseReplacesThePreviousPipe) {
  OpenServer s(L"openfirst");
  const std::wstring first = s.name;
  s.name = UniqueName(L"opensecond");
  ASSERT_TRUE(s.Reopen(2));
  EXPECT_FALSE(PipeExists(first));
  EXPECT_TRUE(PipeExists(s.name));
  EXPECT_EQ(s.capture.Count(kLogInfo, kDestroyEnd), 1);
  // Clients reach the new pipe, with its one set of channels.
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdVideo, EVENT_PACKET, 1));
  ::Sleep(300);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
}

// --- Packets and messages across processes -------------------------------------------------------

TEST(ServerPackets, VideoFrameFromAnotherProcessArrivesWithPlanesInTheMapping) {
  OpenServer s(L"video");
  ASSERT_TRUE(s.Connect());
  EXPECT_EQ(s.server->IsConnected(), 1u);
  ASSERT_TRUE(s.Ask(kCmdVideo, EVENT_PACKET, 1));
  const PipeEvent packet = s.recorder.Of(EVENT_PACKET)[0];
  EXPECT_EQ(packet.type, 0u);
  ASSERT_EQ(packet.data.size(), 168u);
  EXPECT_TRUE(packet.payload_mapped && packet.payload_matches);
  // The record's bytes as the client wrote them, plane pointers aside.
  const Media sent;
  const char* got = packet.data.data();
  EXPECT_EQ(0, std::memcmp(got, &sent.video, offsetof(MediaPacket, data)));
  EXPECT_EQ(0, std::memcmp(got + offsetof(MediaPacket, linesize), &sent.video.linesize,
                           sizeof(MediaPacket) - offsetof(MediaPacket, linesize)));
}

TEST(ServerPackets, AudioPacketArrivesAndIsAcknowledged) {
  OpenServer s(L"audio");
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdAudio, EVENT_PACKET, 1));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 1, kAudioDone));
  const PipeEvent packet = s.recorder.Of(EVENT_PACKET)[0];
  EXPECT_TRUE(packet.payload_mapped && packet.payload_matches);
  // The client waits up to 5000 ms for the acknowledgement; it came at once.
  EXPECT_LT(s.AudioWaitMs(), 2500);
}

// A panel started by an ordinary user may not create "Global\" mappings;
// both ends go to "Local\" and the media still flows.
TEST(ServerPackets, FramesAndAudioArriveWhenGlobalMappingsAreRefused) {
  ring_test::GlobalMappingSeam seam(/*deny=*/true);
  OpenServer s(L"localmaps");
  ASSERT_TRUE(s.Connect(1, L" --deny-global"));
  ASSERT_TRUE(s.Ask(kCmdVideo, EVENT_PACKET, 1));
  ASSERT_TRUE(s.Ask(kCmdAudio, EVENT_MESSAGE, 1, kAudioDone));
  ASSERT_EQ(s.recorder.Count(EVENT_PACKET), 2u);
  for (const PipeEvent& packet : s.recorder.Of(EVENT_PACKET)) {
    EXPECT_TRUE(packet.payload_mapped && packet.payload_matches);
  }
  EXPECT_LT(s.AudioWaitMs(), 2500);
  EXPECT_EQ(seam.Opened(),
            (std::vector<std::wstring>{
                L"Global\\PIPE_VIDEO_0_" + s.name, L"Local\\PIPE_VIDEO_0_" + s.name,
                L"Global\\PIPE_AUDIO_0_" + s.name, L"Local\\PIPE_AUDIO_0_" + s.name}));
}

// A slot the reader refuses still releases the writer waiting for it.
TEST(ServerPackets, RefusedAudioSlotIsStillAcknowledged) {
  OpenServer s(L"audioack");
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdAudio, EVENT_MESSAGE, 1, kAudioDone));
  // Another party spoils the ring's geometry: more slots than the mapping holds.
  BrisqHandle mapping(
      ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (L"Global\\PIPE_AUDIO_0_" + s.name).c_str()));
  ASSERT_TRUE(mapping.IsValid());
  void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 48);
  ASSERT_NE(view, nullptr);
  static_cast<uint32_t*>(view)[3] = 5;  // slotCount at offset 12
  ::UnmapViewOfFile(view);
  ASSERT_TRUE(s.Ask(kCmdAudio, EVENT_MESSAGE, 2, kAudioDone));
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
  EXPECT_EQ(
      s.capture.Count(kLogError, "Failed to ReadPacket(invalid ring header(123048,5,492240))"), 1);
  EXPECT_LT(s.AudioWaitMs(), 2500) << "the writer waited out its 5000 ms";
}

// The client's teardown wakes the video reader once more without a frame.
TEST(ServerPackets, ClientTeardownDeliversNoPhantomFrame) {
  OpenServer s(L"phantom");
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdVideo, EVENT_PACKET, 1));
  ASSERT_TRUE(s.Ask(kCmdQuit, EVENT_BROKEN, 1));
  EXPECT_EQ(s.child.Wait(), 0u);
  ::Sleep(300);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), 1u);
}

TEST(ServerMessages, TravelBothWaysWithTheirBytes) {
  OpenServer s(L"messages");
  ASSERT_TRUE(s.Connect());
  EXPECT_EQ(s.recorder.Of(EVENT_MESSAGE)[0].data, "ready");
  const std::vector<std::string> texts = {"{\"a\":1}", std::string("\0\x01\xff", 3),
                                          std::string(10000, 'z')};
  for (const std::string& text : texts) ASSERT_TRUE(s.Send(kCmdEcho, text));
  ASSERT_TRUE(s.recorder.WaitForCount(EVENT_MESSAGE, 3, kEchoed));
  EXPECT_EQ(s.Received(kEchoed), texts);
}

TEST(ServerMessages, TwoMessagesWithinTwoSecondsLogAtMostOneLineWhileTheCallbackSeesBoth) {
  OpenServer s(L"ratelimit");
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdEcho, EVENT_MESSAGE, 1, kEchoed));
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  EXPECT_EQ(s.recorder.Count(EVENT_MESSAGE), 2u);
  int lines = 0;
  for (const auto& line : s.capture.Lines()) {
    lines += line.message.rfind("[PipeServer] EVENT_MESSAGE , msgId = ", 0) == 0;
  }
  EXPECT_TRUE(elapsed >= 2000 || lines <= 1) << lines << " lines";
}

// --- Rebuild after a broken pipe ----------------------------------------------------------------

TEST(ServerRebuild, TwentyKilledClientsInARowEachReplacedUnderTheSameNameWithFlatHandles) {
  OpenServer s(L"rebuild");
  DWORD before = 0;
  // Round 1 first: the first connection creates lasting per-process state
  // (the mapping's section objects are cached by the system, thread pools).
  for (int round = 1; round <= 21; ++round) {
    if (round == 2) before = HandleCount();
    SCOPED_TRACE(round);
    ASSERT_TRUE(s.Connect(round));
    ASSERT_EQ(s.server->IsConnected(), 1u);
    ASSERT_TRUE(s.Ask(kCmdVideo, EVENT_PACKET, round));
    s.child.Kill();
    ASSERT_TRUE(s.WaitForLine(kRecreateEnd, round));
    EXPECT_EQ(s.server->IsConnected(), 0u);
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
  OpenServer s(L"inherit");
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  BrisqHandle output(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(s.Connect());
  ChildOptions options;
  options.output = output.Get();
  options.inherit_all_handles = true;  // every inheritable handle of this process
  ChildProcess lingering;
  ASSERT_TRUE(lingering.StartSelf(L"--linger", options));
  s.child.Kill();
  ASSERT_TRUE(s.WaitForLine(kRecreateEnd, 1));
  EXPECT_TRUE(s.Connect(2));
  EXPECT_EQ(s.capture.Count(kLogError, "Failed to Create"), 0);
}

// --- Mended faults -----------------------------------------------------------------------------

TEST(ServerMended, PipeNameLongerThan129IsRefusedByTheOpenTaskWithoutAnyPipe) {
  LogCapture capture;
  ServerRef server(NewServer());
  const std::wstring too_long = (UniqueName(L"x") + std::wstring(200, L'n')).substr(0, 130);
  const std::wstring fits = too_long.substr(0, 129);
  EXPECT_EQ(server->Open(too_long.c_str(), 1), 1);  // Open itself reports nothing
  ASSERT_TRUE(WaitUntil(
      [&] { return capture.Count(kLogError, "Failed to Open(pipe name too long)") == 1; }));
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Open(end...) res = 1"), 1);
  EXPECT_EQ(capture.Count(kLogInfo, "[PipeServer] Create(begin,...)"), 0);
  EXPECT_FALSE(PipeExists(fits));  // not cut and opened either
  EXPECT_EQ(server->SendMessage(1, "x", 1), 0);

  // 129 characters fit exactly.
  ASSERT_EQ(server->Open(fits.c_str(), 1), 1);
  ASSERT_TRUE(WaitUntil([&] { return capture.Count(kLogInfo, kCreateEnd) == 1; }));
  EXPECT_TRUE(PipeExists(fits));
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
  ASSERT_TRUE(WaitUntil([&] { return capture.Count(kLogInfo, kCreateEnd) == 1; }));
  EXPECT_TRUE(PipeExists(name));
  // The listen thread and the pipe's reader: items make no threads before
  // a client connects.
  EXPECT_LE(ThreadCount(), threads + 2);
  server->Close();
}

TEST(ServerMended, OpenAndImmediateCloseRepeatedKeepEveryListenChannelAlive) {
  LogCapture capture;
  NewServer()->Release();  // warm-up
  const int before = ThreadCount();
  for (int round = 0; round < 20; ++round) {
    ServerRef server(NewServer());
    server->Open(UniqueName(L"flash").c_str(), 2);
    server->Close();
    // Released at once: queued tasks may be dropped, and the last Release
    // tears down what they left.
  }
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerMended, LastReleaseWhileOpenAndStreamingTearsDownAndJoinsEveryThread) {
  const int before = ThreadCount();
  OpenServer s(L"release", 2);
  ASSERT_TRUE(s.Connect());
  ASSERT_TRUE(s.Ask(kCmdStream, EVENT_PACKET, 20));
  // No Close: the readers are busy delivering packets into the callback.
  EXPECT_EQ(s.server.release()->Release(), 0u);
  const size_t delivered = s.recorder.Count(EVENT_PACKET);
  EXPECT_EQ(s.capture.Count(kLogInfo, kDestroyEnd), 1);
  ::Sleep(200);
  EXPECT_EQ(s.recorder.Count(EVENT_PACKET), delivered);  // nothing after the release
  EXPECT_EQ(s.child.Wait(), 0u);                         // the client saw the pipe go
  EXPECT_EQ(SettledThreadCount(before), before);
}

TEST(ServerMended, CloseWhileTheCallbackAnswersEveryMessageNeverDeadlocks) {
  OpenServer s(L"answer");
  std::atomic<bool> answering{true};
  s.recorder.on_event = [&](uint32_t event, uint32_t, const char* data, uint32_t length) {
    // Every message is answered with an echo request, which the client
    // answers again: an endless exchange, many of them in flight.
    if (event == EVENT_MESSAGE && answering) s.server->SendMessage(kCmdEcho, data, length);
  };
  for (int round = 1; round <= 10; ++round) {
    ASSERT_TRUE(round == 1 || s.Reopen(round));
    const size_t seen = s.recorder.Count(EVENT_MESSAGE);
    ASSERT_TRUE(s.Connect(round));
    ASSERT_TRUE(s.Ask(kCmdFlood, EVENT_MESSAGE, seen + 300));
    s.server->Close();
    if (!s.WaitForLine(kDestroyEnd, round, kLogInfo, 15000)) {
      (void)s.server.release();  // a deadlocked server cannot be released
      FAIL() << "Close deadlocked in round " << round;
    }
    EXPECT_EQ(s.child.Wait(), 0u);
  }
  answering = false;
  // Sends that raced the teardown failed cleanly, never with another text.
  for (const auto& line : s.capture.Lines()) {
    if (line.severity == kLogError && line.message.rfind("Failed to SendMessage", 0) == 0) {
      EXPECT_EQ(line.message, kInvalidChannel);
    }
  }
}

TEST(ServerMended, CloseRacingAClientDeathLeavesNoListeningPipe) {
  OpenServer s(L"closedeath");
  for (int round = 1; round <= 5; ++round) {
    ASSERT_TRUE(round == 1 || s.Reopen(round));
    ASSERT_TRUE(s.Connect(round));
    // The break reaches the server while its destroy task is queued or runs.
    s.server->Close();
    s.child.Kill();
    ASSERT_TRUE(s.WaitForLine(kDestroyEnd, round));
    ::Sleep(300);  // time for a rebuild task queued by the break
    EXPECT_FALSE(PipeExists(s.name)) << "round " << round;
    EXPECT_EQ(s.server->IsConnected(), 0u);
  }
}

// --- Event hook against a raw client ------------------------------------------------------------

// Says hello on a client end written by hand, as a real client would; the
// server reports its `nth` EVENT_CONNECTED.
bool SayHello(RawPipe& client, OpenServer& s, size_t nth) {
  return client.Write(HelloMessage(static_cast<int32_t>(::GetCurrentProcessId()))) &&
         s.recorder.WaitForCount(EVENT_CONNECTED, nth);
}

TEST(ServerEvents, RepeatedHelloStartsNoSecondReaderAndABreakRebuilds) {
  OpenServer s(L"rehello");
  // The kernel objects of channel 0, made as a real client makes them.
  BrisqHandle video(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF,
                                       (L"Global\\VideoPipeSemaphore_0_" + s.name).c_str()));
  BrisqHandle audio(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF,
                                       (L"Global\\AudioPipeSemaphore_0_" + s.name).c_str()));
  BrisqHandle audio_event(
      ::CreateEventW(nullptr, FALSE, FALSE, (L"Global\\AudioPipeEvent_0_" + s.name).c_str()));
  RawPipe client;
  ASSERT_TRUE(client.OpenClient(s.name));
  ASSERT_TRUE(SayHello(client, s, 1));
  ASSERT_TRUE(SayHello(client, s, 2));
  EXPECT_EQ(s.capture.Count(kLogInfo, "[PipeServer] EVENT_CONNECTED"), 2);
  // Two wake-ups without a mapping: one reader per kind logs once and ends;
  // a second reader would take the second wake-up and log again.
  ::ReleaseSemaphore(video.Get(), 2, nullptr);
  ::ReleaseSemaphore(audio.Get(), 2, nullptr);
  ASSERT_TRUE(s.WaitForLine("Failed to ReadVideo(memory can't open)", 1, kLogError));
  ASSERT_TRUE(s.WaitForLine("Failed to ReadAudio(memory can't open)", 1, kLogError));
  ::Sleep(300);
  EXPECT_EQ(s.capture.Count(kLogError, "Failed to ReadVideo(memory can't open)"), 1);
  EXPECT_EQ(s.capture.Count(kLogError, "Failed to ReadAudio(memory can't open)"), 1);

  client.Close();
  ASSERT_TRUE(s.WaitForLine(kRecreateEnd, 1));
  EXPECT_EQ(s.recorder.Count(EVENT_BROKEN), 1u);
  EXPECT_EQ(s.recorder.Count(EVENT_DISCONNECTED), 1u);  // the old pipe's close
  EXPECT_EQ(s.capture.Count(kLogInfo, "[PipeServer] Recreate(begin,...)"), 1);
  RawPipe next;
  EXPECT_TRUE(next.OpenClient(s.name));
}

TEST(ServerEvents, MissingChannelObjectsAreReportedPerChannel) {
  OpenServer s(L"noobjects");
  RawPipe client;  // makes no semaphores and no event
  ASSERT_TRUE(client.OpenClient(s.name));
  ASSERT_TRUE(SayHello(client, s, 1));
  const std::string not_found = BrisqFramework::BrisqErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(s.WaitForLine("Failed to OpenSemaphoreW(" + not_found + ", 0)", 1, kLogError));
  EXPECT_TRUE(
      s.WaitForLine("Failed to OpenSemaphoreW or OpenEvent(" + not_found + ", 0)", 1, kLogError));
  EXPECT_EQ(s.server->IsConnected(), 1u);  // messages still flow
}

// --- Log file -----------------------------------------------------------------------------------

TEST(ServerLogFile, OpenLogFileWritesTheLibrarysLinesToThePathAndToTheDefaultName) {
  BrisqFramework::SetLogOutputHook(nullptr);  // no sink: lines go to the file
  ServerRef server(NewServer());
  const std::wstring path = TempFile(L"log");
  ASSERT_EQ(server->OpenLogFile(path.c_str()), 1);
  server->SetCallback(nullptr, nullptr);
  EXPECT_NE(ReadAll(path).find("INFO] : [PipeServer] SetCallback\n"), std::string::npos);

  // The default: beside the executable, named after the time and the process.
  const size_t first_size = ReadAll(path).size();
  ASSERT_EQ(server->OpenLogFile(nullptr), 1);
  const std::wstring chosen = BrisqFramework::LogFilePath();
  const std::wstring suffix = L"-" + std::to_wstring(::GetCurrentProcessId()) + L".log";
  const std::wstring dir = BuildFolder();
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
  EXPECT_EQ(server->OpenLogFile((TempFile(L"no") + L"\\such\\dir\\x.log").c_str()), 0);
  for (const std::wstring& file : {path, chosen, again}) ::DeleteFileW(file.c_str());
}

}  // namespace
