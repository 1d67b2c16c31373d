// PipeClient against a raw named-pipe server that plays the host: the wire
// handshake, messages both ways, the shared-memory rings and their named
// semaphores and events (opened here as the server would), teardown on a
// break and by Destroy, and the races between teardown and the callbacks.
#include "Quenlo/PipeClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "Quenlo/PipeLimits.h"
#include "Quenlo/PipeMemoryAudio.h"
#include "Quenlo/PipeMemoryVideo.h"
#include "Quenlo/layout/RingLayout.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/log_capture.h"
#include "tests/support/named_objects.h"
#include "tests/support/raw_pipe_server.h"
#include "tests/support/unique_name.h"
#include "tools/common/quenlo_exports.h"

namespace {

using BrisqFramework::BrisqHandle;
using BrisqFramework::BrisqRef;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using Quenlo::PipeClient;
using std::chrono::milliseconds;
using test_support::EventExists;
using test_support::EventRecorder;
using test_support::LogCapture;
using test_support::MappingExists;
using test_support::MutexExists;
using test_support::RawPipeServer;
using test_support::SemaphoreExists;
using test_support::UniqueName;

constexpr DWORD kWaitMs = 10000;

std::wstring ObjectName(const wchar_t* prefix, int index, const std::wstring& name) {
  return std::wstring(L"Global\\") + prefix + L"_" + std::to_wstring(index) + L"_" + name;
}

// A named semaphore opened as the server would; Count reads its count
// without changing it.
class SemaphoreProbe {
 public:
  explicit SemaphoreProbe(const std::wstring& name)
      : handle_(::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, name.c_str())) {}
  bool IsOpen() const { return handle_.IsValid(); }
  LONG Count() const {
    LONG previous = -1;
    ::ReleaseSemaphore(handle_.Get(), 1, &previous);
    ::WaitForSingleObject(handle_.Get(), 0);
    return previous;
  }

 private:
  BrisqHandle handle_;
};

// A packet and the bytes it points to.
struct Packet {
  std::vector<uint8_t> bytes;
  MediaPacket packet = {};
};

Packet MakeVideo(uint32_t channel, uint32_t width, uint32_t height) {
  Packet frame;
  frame.bytes.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < frame.bytes.size(); ++i) frame.bytes[i] = static_cast<uint8_t>(i * 7);
  frame.packet.kind = MEDIA_PACKET_VIDEO;
  frame.packet.channel = channel;
  frame.packet.width = width;
  frame.packet.height = height;
  frame.packet.format = 12;  // packed, 4 bytes a pixel
  frame.packet.data[0] = frame.bytes.data();
  frame.packet.linesize[0] = static_cast<int32_t>(width * 4);
  return frame;
}

Packet MakeAudio(uint32_t channel, uint32_t size) {
  Packet block;
  block.bytes.resize(size);
  for (size_t i = 0; i < block.bytes.size(); ++i) block.bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  block.packet.kind = MEDIA_PACKET_AUDIO;
  block.packet.channel = channel;
  block.packet.width = 48000;
  block.packet.data[0] = block.bytes.data();
  block.packet.audio_bytes = size;
  return block;
}

// Hands the client's events to `recorder`, which keeps the client's
// IsConnected with each.
void Watch(PipeClient* client, EventRecorder* recorder) {
  recorder->is_connected = [client] { return client->IsConnected(); };
  client->SetCallback(&EventRecorder::Callback, recorder);
}

// A client from the factory, watched by its recorder; Destroy and the last
// Release at the end.
class PipeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Quenlo::IPipeClient* created = nullptr;
    ASSERT_EQ(1, CreatePipeClient(&created));
    client_ = static_cast<PipeClient*>(created);
    Watch(client_, &recorder_);
  }
  void TearDown() override {
    client_->Destroy();
    EXPECT_EQ(0u, client_->Release());
  }

  // Starts a raw server under `name`.
  void Serve(const std::wstring& name, bool answer_hello = true) {
    name_ = name;
    server_.reset(new RawPipeServer(name_, answer_hello));
    ASSERT_TRUE(server_->Start());
  }
  // Starts a raw server and connects the client to it with `channels` channels.
  void Connect(uint32_t channels, const std::wstring& name = UniqueName(L"c")) {
    Serve(name);
    ASSERT_EQ(1, client_->Create(name_.c_str(), channels));
    ASSERT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED));
    ASSERT_EQ(1u, client_->IsConnected());
  }
  std::wstring Named(const wchar_t* prefix, int index) const {
    return ObjectName(prefix, index, name_);
  }
  // Both ways of writing `packet` answer `result`.
  void ExpectWrites(MediaPacket* packet, int32_t result) {
    EXPECT_EQ(result, client_->WritePacket(packet, 10));
    EXPECT_EQ(result, client_->WritePacketAsync(packet));
  }

  LogCapture log_;
  PipeClient* client_ = nullptr;
  EventRecorder recorder_;
  std::wstring name_;
  std::unique_ptr<RawPipeServer> server_;
};

// --- Reference counting and the interface --------------------------------------------------

TEST_F(PipeClientTest, QueryInterfaceHandsOutTheSameObjectWithOneMoreReference) {
  for (const Quenlo::InterfaceId& iid : {Quenlo::IID_IMSUnknown, Quenlo::IID_IPipeClient}) {
    void* out = nullptr;
    ASSERT_EQ(Quenlo::kQueryInterfaceOk, client_->QueryInterface(iid, &out));
    EXPECT_EQ(static_cast<Quenlo::IPipeClient*>(client_), out);
    EXPECT_EQ(3u, client_->AddRef());  // created 1, QueryInterface 2, this 3
    EXPECT_EQ(2u, client_->Release());
    EXPECT_EQ(1u, client_->Release());
  }
}

TEST_F(PipeClientTest, QueryInterfaceRefusesOtherIdentifiersWithNull) {
  void* out = &out;
  EXPECT_EQ(static_cast<int32_t>(0x80004002u),
            client_->QueryInterface(Quenlo::IID_IPipeServer, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(2u, client_->AddRef());  // the refusal added no reference
  EXPECT_EQ(1u, client_->Release());
}

TEST(PipeClientExport, NullOutPointerGivesZeroAndOrdinalOneIsTheClientFactory) {
  LogCapture log;
  EXPECT_EQ(0, CreatePipeClient(nullptr));

  HMODULE module = ::LoadLibraryW((test_support::BuildFolder() + L"Quenlo.dll").c_str());
  ASSERT_NE(nullptr, module);
  auto create = quenlo_tools::BindOrdinal<PFN_CreatePipeClient>(module, 1);
  ASSERT_NE(nullptr, create);
  EXPECT_EQ(reinterpret_cast<void*>(create),
            reinterpret_cast<void*>(::GetProcAddress(module, "CreatePipeClient")));
  EXPECT_EQ(0, create(nullptr));
  Quenlo::IPipeClient* client = nullptr;
  ASSERT_EQ(1, create(&client));
  ASSERT_NE(nullptr, client);
  EXPECT_EQ(0u, client->IsConnected());
  EXPECT_EQ(0u, client->Release());
  ::FreeLibrary(module);
}

// --- Create: arguments that must be refused before anything is made -------------------------

TEST_F(PipeClientTest, NameLongerThanTheChannelFieldIsRefusedNotCut) {
  std::wstring too_long = UniqueName(L"long");
  too_long.resize(130, L'x');
  EXPECT_EQ(0, client_->Create(too_long.c_str(), 1));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to Create(pipe name too long)"));
  EXPECT_FALSE(MutexExists(L"Global\\PipeMutex_" + too_long));
  // Nothing under the name, nor under the name cut to 129 characters.
  for (const std::wstring& name : {too_long, too_long.substr(0, 129)}) {
    EXPECT_FALSE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 0, name)));
  }
  EXPECT_EQ(-1, log_.IndexOf(kLogInfo, "[PipeClient] Create(begin,...)"));
}

TEST_F(PipeClientTest, NameOfExactly129CharactersConnects) {
  std::wstring name = UniqueName(L"edge");
  name.resize(129, L'y');
  Connect(1, name);
  EXPECT_TRUE(SemaphoreExists(Named(L"VideoPipeSemaphore", 0)));
}

TEST_F(PipeClientTest, AbsurdChannelCountIsRefusedAtOnce) {
  name_ = UniqueName(L"many");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, client_->Create(name_.c_str(), 0xFFFFFFFFu));  // "--maxChannels=-1"
  EXPECT_EQ(0, client_->Create(name_.c_str(), Quenlo::kMaxPipeChannels + 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(2, log_.Count(kLogError, "Failed to Create(too many channels)"));
  EXPECT_FALSE(SemaphoreExists(Named(L"AudioPipeSemaphore", 0)));
  EXPECT_FALSE(MutexExists(L"Global\\PipeMutex_" + name_));
}

TEST_F(PipeClientTest, TheLargestChannelCountIsAccepted) {
  Connect(Quenlo::kMaxPipeChannels);
  EXPECT_TRUE(SemaphoreExists(Named(L"VideoPipeSemaphore", 1023)));
  EXPECT_FALSE(SemaphoreExists(Named(L"VideoPipeSemaphore", 1024)));
}

// --- Named objects ------------------------------------------------------------------------------

TEST_F(PipeClientTest, CreateMakesEveryNamedObjectUnderItsExactName) {
  Connect(2);
  EXPECT_TRUE(MutexExists(L"Global\\PipeMutex_" + name_));
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(SemaphoreExists(Named(L"AudioPipeSemaphore", i))) << i;
    EXPECT_TRUE(SemaphoreExists(Named(L"VideoPipeSemaphore", i))) << i;
    EXPECT_TRUE(EventExists(Named(L"AudioPipeEvent", i))) << i;
  }
  EXPECT_FALSE(SemaphoreExists(Named(L"AudioPipeSemaphore", 2)));
  // The rings are mapped on the first packet of their channel and kind.
  EXPECT_FALSE(MappingExists(Named(L"PIPE_VIDEO", 1)));
  Packet frame = MakeVideo(1, 16, 8);
  Packet block = MakeAudio(1, 64);
  ASSERT_EQ(1, client_->WritePacketAsync(&frame.packet));
  ASSERT_EQ(1, client_->WritePacketAsync(&block.packet));
  EXPECT_TRUE(MappingExists(Named(L"PIPE_VIDEO", 1)));
  EXPECT_TRUE(MappingExists(Named(L"PIPE_AUDIO", 1)));
  EXPECT_FALSE(MappingExists(Named(L"PIPE_VIDEO", 0)));
}

TEST_F(PipeClientTest, DestroyClosesTheLinkAndWakesEveryReaderOnce) {
  Connect(2);
  SemaphoreProbe audio(Named(L"AudioPipeSemaphore", 1));
  SemaphoreProbe video(Named(L"VideoPipeSemaphore", 1));
  ASSERT_TRUE(audio.IsOpen() && video.IsOpen());
  EXPECT_EQ(0, video.Count());

  client_->Destroy();
  EXPECT_EQ(1, audio.Count());
  EXPECT_EQ(1, video.Count());
  EXPECT_EQ(1u, recorder_.Count(EVENT_DISCONNECTED));
  EXPECT_EQ(0u, client_->IsConnected());
  EXPECT_TRUE(server_->WaitClientGone(kWaitMs));
  EXPECT_FALSE(MutexExists(L"Global\\PipeMutex_" + name_));
  BrisqRef<PipeClient::PipeItem> item;
  EXPECT_FALSE(client_->GetPipeItem(0, &item));
}

// --- Messages -----------------------------------------------------------------------------------

TEST_F(PipeClientTest, SendMessageBeforeTheHelloFailsWithInvalidState) {
  EXPECT_EQ(0, client_->SendMessage(101, "x", 1));  // before Create
  Serve(UniqueName(L"mute"), /*answer_hello=*/false);
  ASSERT_EQ(1, client_->Create(name_.c_str(), 1));
  ASSERT_TRUE(server_->WaitClientHello(kWaitMs));  // linked, but not connected
  EXPECT_EQ(0, client_->SendMessage(101, "x", 1));
  EXPECT_EQ(2, log_.Count(kLogError, "Failed to SendMessage(invalid state)"));
  EXPECT_EQ(0u, recorder_.Count(EVENT_CONNECTED));
  EXPECT_TRUE(server_->Messages().empty());
}

TEST_F(PipeClientTest, ZeroChannelsCarryMessagesBothWaysAndRefuseEveryPacket) {
  Connect(0);
  EXPECT_EQ(1, log_.Count(kLogInfo, "[PipeClient] SetCallback..."));
  const int begin = log_.IndexOf(kLogInfo, "[PipeClient] Create(begin,...)");
  ASSERT_GE(begin, 0);
  EXPECT_GT(log_.IndexOf(kLogInfo, "[PipeClient] Create(end,...)"), begin);
  EXPECT_TRUE(log_.WaitFor(kLogInfo, "[PipeClient] EVENT_CONNECTED", 1, kWaitMs));
  EXPECT_EQ(::GetCurrentProcessId(), server_->ClientProcessId());

  const std::string text = "{\"method\":\"x.subscribeEvent\"}";
  ASSERT_EQ(1, client_->SendMessage(101, text.data(), static_cast<uint32_t>(text.size())));
  ASSERT_TRUE(server_->WaitMessages(1, kWaitMs));
  EXPECT_EQ(101u, server_->Messages()[0].type);
  EXPECT_EQ(text, server_->Messages()[0].data);

  ASSERT_TRUE(server_->Send(7, "from host"));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_MESSAGE));
  const test_support::PipeEvent message = recorder_.Of(EVENT_MESSAGE)[0];
  EXPECT_EQ(7u, message.type);
  EXPECT_EQ("from host", message.data);

  Packet frame = MakeVideo(0, 16, 8);
  Packet block = MakeAudio(0, 64);
  ExpectWrites(&frame.packet, 0);
  ExpectWrites(&block.packet, 0);
  EXPECT_EQ(4, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=0)"));
  EXPECT_FALSE(SemaphoreExists(Named(L"VideoPipeSemaphore", 0)));
}

// --- Packets: refusals ---------------------------------------------------------------------------

TEST_F(PipeClientTest, PacketsAreRefusedWithoutPacketOrConnection) {
  Packet frame = MakeVideo(0, 16, 8);
  ExpectWrites(&frame.packet, 0);
  ExpectWrites(nullptr, 0);
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacket(invalid state)"));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacketAsync(invalid state)"));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacket(invalid parameter)"));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacketAsync(invalid parameter)"));
}

TEST_F(PipeClientTest, ChannelIndexAtOrAboveTheCountIsRefused) {
  Connect(2);
  Packet frame = MakeVideo(2, 16, 8);
  EXPECT_EQ(0, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=2)"));
  frame.packet.channel = 0xFFFFFFFFu;
  EXPECT_EQ(0, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=-1)"));
  EXPECT_FALSE(MappingExists(Named(L"PIPE_VIDEO", 2)));
}

TEST_F(PipeClientTest, OtherKindsSucceedAndWriteNothing) {
  Connect(1);
  SemaphoreProbe video(Named(L"VideoPipeSemaphore", 0));
  SemaphoreProbe audio(Named(L"AudioPipeSemaphore", 0));
  Packet frame = MakeVideo(0, 16, 8);
  for (uint32_t kind : {0u, 3u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(kind);
    frame.packet.kind = kind;
    ExpectWrites(&frame.packet, 1);
  }
  EXPECT_EQ(0, video.Count());
  EXPECT_EQ(0, audio.Count());
  EXPECT_FALSE(MappingExists(Named(L"PIPE_VIDEO", 0)));
  EXPECT_FALSE(MappingExists(Named(L"PIPE_AUDIO", 0)));
}

// A packet the ring refuses is not announced: a semaphore count would make
// the server deliver a stale or empty slot as if it were this packet, and
// no acknowledgement can come for audio that was never stored.
TEST_F(PipeClientTest, RefusedPacketSucceedsButIsNotAnnounced) {
  Connect(1);
  SemaphoreProbe video(Named(L"VideoPipeSemaphore", 0));
  SemaphoreProbe audio(Named(L"AudioPipeSemaphore", 0));
  Packet good = MakeVideo(0, 16, 8);
  ASSERT_EQ(1, client_->WritePacket(&good.packet, 10));
  ASSERT_EQ(1, video.Count());

  MediaPacket oversized = {};
  oversized.kind = MEDIA_PACKET_VIDEO;
  oversized.width = 1921;
  oversized.height = 1080;
  oversized.format = 12;
  ExpectWrites(&oversized, 1);
  EXPECT_EQ(1, video.Count());
  EXPECT_EQ(2, log_.Count(kLogError, "Failed to SendPacket(invalid video size(1921,1080)"));

  Packet too_long = MakeAudio(0, Quenlo::kAudioPayloadSize + 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&too_long.packet, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2500));
  EXPECT_EQ(1, client_->WritePacketAsync(&too_long.packet));
  EXPECT_EQ(0, audio.Count());
}

// --- Packets: what reaches the rings ------------------------------------------------------------

TEST_F(PipeClientTest, VideoFrameLandsInTheRingAndIsAnnouncedOnce) {
  Connect(1);
  SemaphoreProbe video(Named(L"VideoPipeSemaphore", 0));
  Packet frame = MakeVideo(0, 64, 32);
  frame.packet.timestamp = 123456789;
  ASSERT_EQ(1, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(1, video.Count());

  BrisqRef<Quenlo::PipeMemoryVideo> reader(
      new Quenlo::PipeMemoryVideo(Named(L"PIPE_VIDEO", 0).c_str()));
  ASSERT_TRUE(reader->Open());
  EXPECT_EQ(1u, Quenlo::LoadU32(reader->Header() + Quenlo::kHeaderAckRequested));
  MediaPacket read = {};
  ASSERT_TRUE(reader->ReadPacket(&read));
  EXPECT_EQ(64u, read.width);
  EXPECT_EQ(32u, read.height);
  EXPECT_EQ(123456789u, read.timestamp);
  ASSERT_NE(nullptr, read.data[0]);
  EXPECT_EQ(0, std::memcmp(frame.bytes.data(), read.data[0], frame.bytes.size()));

  ASSERT_EQ(1, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(2, video.Count());
  EXPECT_EQ(0u, Quenlo::LoadU32(reader->Header() + Quenlo::kHeaderAckRequested));
}

TEST_F(PipeClientTest, AudioWaitsForTheReadersAcknowledgement) {
  Connect(1);
  Packet block = MakeAudio(0, 1000);
  // The server's audio reader: wake, read the slot, acknowledge.
  std::future<std::string> read = std::async(std::launch::async, [this] {
    BrisqHandle semaphore(
        ::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, Named(L"AudioPipeSemaphore", 0).c_str()));
    BrisqHandle event(::OpenEventW(EVENT_ALL_ACCESS, FALSE, Named(L"AudioPipeEvent", 0).c_str()));
    BrisqRef<Quenlo::PipeMemoryAudio> ring(
        new Quenlo::PipeMemoryAudio(Named(L"PIPE_AUDIO", 0).c_str()));
    MediaPacket packet = {};
    if (!event || ::WaitForSingleObject(semaphore.Get(), kWaitMs) != WAIT_OBJECT_0 ||
        !ring->Open() || !ring->ReadPacket(&packet) || !ring->AckRequested()) {
      return std::string();
    }
    std::string bytes(reinterpret_cast<const char*>(packet.data[0]), packet.audio_bytes);
    ::Sleep(100);  // the writer must still be waiting now
    ::SetEvent(event.Get());
    return bytes;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&block.packet, 8000));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(std::string(block.bytes.begin(), block.bytes.end()), read.get());
  EXPECT_GE(waited, milliseconds(90));
  EXPECT_LT(waited, milliseconds(4000));
}

TEST_F(PipeClientTest, AudioWithoutAcknowledgementStillSucceedsAfterTheTimeout) {
  Connect(1);
  Packet block = MakeAudio(0, 256);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&block.packet, 300));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(250));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_EQ(1, log_.Count(kLogInfo, "WaitForSingleObject timeout 300"));
}

TEST_F(PipeClientTest, AsyncAudioSignalsTheAcknowledgementItselfAndDoesNotWait) {
  Connect(1);
  BrisqHandle event(::OpenEventW(EVENT_ALL_ACCESS, FALSE, Named(L"AudioPipeEvent", 0).c_str()));
  ASSERT_TRUE(event);
  SemaphoreProbe audio(Named(L"AudioPipeSemaphore", 0));
  Packet block = MakeAudio(0, 256);
  EXPECT_EQ(1, client_->WritePacketAsync(&block.packet));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(event.Get(), 0));
  EXPECT_EQ(1, audio.Count());
}

TEST_F(PipeClientTest, WritesGiveBackTheItemReferenceOnEveryPath) {
  Connect(1);
  BrisqRef<PipeClient::PipeItem> item;
  EXPECT_FALSE(client_->GetPipeItem(0, nullptr));
  EXPECT_FALSE(client_->GetPipeItem(1, &item));
  ASSERT_TRUE(client_->GetPipeItem(0, &item));
  ASSERT_EQ(2u, item->RefCount());  // the array's and ours
  EXPECT_EQ(0u, item->index);

  Packet frame = MakeVideo(0, 32, 16);
  Packet block = MakeAudio(0, 128);
  MediaPacket oversized = frame.packet;
  oversized.width = 4000;
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(1, client_->WritePacketAsync(&frame.packet));
    EXPECT_EQ(1, client_->WritePacketAsync(&block.packet));
  }
  EXPECT_EQ(1, client_->WritePacketAsync(&oversized));
  EXPECT_EQ(1, client_->WritePacket(&frame.packet, 0));
  EXPECT_EQ(1, client_->WritePacket(&block.packet, 0));
  EXPECT_EQ(2u, item->RefCount());
}

// --- Breaks and teardown ------------------------------------------------------------------------

TEST_F(PipeClientTest, ServerGoingAwayGivesBrokenThenDisconnectedAndTearsDown) {
  Connect(1);
  server_->Close();
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_DISCONNECTED));
  const int broken = recorder_.IndexOf(EVENT_BROKEN);
  ASSERT_GE(broken, 0);
  EXPECT_LT(broken, recorder_.IndexOf(EVENT_DISCONNECTED));
  EXPECT_EQ(0u, recorder_.Events()[broken].connected);  // turned 0 with the first
  EXPECT_EQ(0u, client_->IsConnected());
  EXPECT_TRUE(log_.WaitFor(kLogInfo, "[PipeClient] Destroy(end,...)", 1, kWaitMs));
  EXPECT_EQ(1, log_.Count(kLogInfo, "[PipeClient] EVENT_BROKEN || EVENT_CONNECTION_RESET"));
  EXPECT_EQ(1, log_.Count(kLogInfo, "[PipeClient] EVENT_DISCONNECTED"));

  BrisqRef<PipeClient::PipeItem> item;
  EXPECT_FALSE(client_->GetPipeItem(0, &item));
  EXPECT_EQ(0, client_->SendMessage(101, "x", 1));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to SendMessage(invalid state)"));
  // The client never reconnects by itself.
  ::Sleep(200);
  EXPECT_EQ(1u, recorder_.Count(EVENT_CONNECTED));
}

TEST_F(PipeClientTest, DestroyAfterABreakRunsASecondTeardownQuietly) {
  Connect(1);
  server_->Close();
  ASSERT_TRUE(log_.WaitFor(kLogInfo, "[PipeClient] Destroy(end,...)", 1, kWaitMs));
  const size_t before = log_.Size();
  client_->Destroy();
  EXPECT_EQ(2, log_.Count(kLogInfo, "[PipeClient] Destroy(begin,...)"));
  EXPECT_EQ(2, log_.Count(kLogInfo, "[PipeClient] Destroy(end,...)"));
  EXPECT_TRUE(log_.Since(before, kLogError).empty());
  EXPECT_EQ(1u, recorder_.Count(EVENT_DISCONNECTED));
}

// A Destroy while the runner is still inside the connect loop: the runner
// drops tasks queued behind the one it runs, so Destroy must not rely on
// its teardown task having run.
TEST_F(PipeClientTest, DestroyDuringTheConnectLoopStillTearsDown) {
  name_ = UniqueName(L"late");
  ASSERT_EQ(1, client_->Create(name_.c_str(), 1));
  ASSERT_TRUE(log_.WaitFor(kLogInfo, "[PipeClient] Create(begin,...)", 1, kWaitMs));
  server_.reset(new RawPipeServer(name_));
  std::thread late_server([this] {
    ::Sleep(400);
    server_->Start();
  });
  client_->Destroy();  // returns once the connect loop found the server
  late_server.join();
  EXPECT_EQ(1, log_.Count(kLogInfo, "[PipeClient] Destroy(end,...)"));
  EXPECT_EQ(1u, recorder_.Count(EVENT_DISCONNECTED));
  EXPECT_EQ(0u, client_->IsConnected());
  EXPECT_TRUE(server_->WaitClientGone(kWaitMs));
}

// --- Races between teardown and the callbacks ---------------------------------------------------

// One round of a race: a client of its own, watched, linked to a raw server.
struct RaceRound {
  RaceRound(const wchar_t* tag, bool answer_hello = true, DWORD hello_delay_ms = 0)
      : name(UniqueName(tag)), server(name, answer_hello, hello_delay_ms) {
    Watch(client, &recorder);
  }
  ~RaceRound() { EXPECT_EQ(0u, client->Release()); }
  bool Link() { return server.Start() && client->Create(name.c_str(), 1) == 1; }

  PipeClient* const client = new PipeClient();
  EventRecorder recorder;
  const std::wstring name;
  RawPipeServer server;
};

// The panel subscribes from inside EVENT_CONNECTED. Teardown must not hold a
// lock those sends need while it joins the thread that runs the callback.
// The hang needs the hello to arrive after Destroy began and before the
// channel is closed: even rounds have the server send its hello the moment
// the teardown begins, odd rounds let the hello race freely.
TEST_F(PipeClientTest, DestroyRacingAConnectedCallbackThatSendsNeverHangs) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    const bool at_teardown = round % 2 == 0;
    std::atomic<int> sends{0};
    RaceRound r(L"race", /*answer_hello=*/!at_teardown, static_cast<DWORD>(round % 4));
    // Answers EVENT_CONNECTED the way the panel does: three sends from
    // inside the callback.
    r.recorder.inspect = [&r, &sends](test_support::PipeEvent& e, const char*, uint32_t) {
      if (e.event != EVENT_CONNECTED) return;
      for (const char* text : {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS", "OPEN_WIN_CLOSE"}) {
        r.client->SendMessage(101, text, static_cast<uint32_t>(std::strlen(text)));
        ++sends;
      }
    };
    ASSERT_TRUE(r.Link());
    if (at_teardown) {
      ASSERT_TRUE(r.server.WaitClientHello(kWaitMs));  // the client's reader runs
      log_.OnceAfter("[PipeClient] Destroy(begin,...)", [&r] { r.server.SendHello(); });
    } else {
      ::Sleep(static_cast<DWORD>(round % 7));
    }

    std::packaged_task<void()> destroy([&r] { r.client->Destroy(); });
    std::future<void> done = destroy.get_future();
    std::thread destroyer(std::move(destroy));
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      std::fprintf(stderr, "Destroy hung in round %d: teardown deadlocked with the callback\n",
                   round);
      std::fflush(stderr);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    destroyer.join();

    EXPECT_EQ(0u, r.client->IsConnected());
    EXPECT_EQ(1u, r.recorder.Count(EVENT_DISCONNECTED));
    const int connected = r.recorder.IndexOf(EVENT_CONNECTED);
    if (connected >= 0) {
      EXPECT_LT(connected, r.recorder.IndexOf(EVENT_DISCONNECTED));
      EXPECT_EQ(3, sends);
    }
  }
  EXPECT_EQ(0, log_.Count(kLogError, "Failed to Close(called on the reader thread)"));
}

// Writes from a frame thread while a teardown closes the rings: the rings
// are closed only between two writes, never under one. Full-size frames
// into fresh mappings make each write take milliseconds; Destroy comes at
// a moment that moves from round to round, and every other round the
// server's going away starts the teardown instead.
TEST_F(PipeClientTest, WritesRacingATeardownNeverTouchClosedRings) {
  Packet frame = MakeVideo(0, 1920, 1080);
  Packet block = MakeAudio(0, 4096);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    RaceRound r(L"writes");
    ASSERT_TRUE(r.Link());
    ASSERT_TRUE(r.recorder.WaitForCount(EVENT_CONNECTED));

    std::atomic<bool> started{false};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      started = true;
      while (!stop) {
        r.client->WritePacketAsync(&frame.packet);
        r.client->WritePacketAsync(&block.packet);
      }
    });
    while (!started) std::this_thread::yield();
    ::Sleep(static_cast<DWORD>(round % 6));
    if (round % 2 == 0) {
      r.client->Destroy();
    } else {
      r.server.Close();
      EXPECT_TRUE(
          log_.WaitFor(kLogInfo, "[PipeClient] Destroy(end,...)", (round + 1) / 2, kWaitMs));
    }
    stop = true;
    writer.join();
    r.client->Destroy();
  }
}

}  // namespace
