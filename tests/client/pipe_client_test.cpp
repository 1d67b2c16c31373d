// PipeClient against a raw named-pipe server that plays the host: the wire
// handshake, messages both ways, the shared-memory rings and their named
// semaphores and events (opened here as the server would), teardown on a
// break and by Destroy, and the races between teardown and the callbacks.
#include "Quenlo/PipeClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Quenlo/PipeLimits.h"
#include "Quenlo/PipeMemoryAudio.h"
#include "Quenlo/PipeMemoryVideo.h"
#include "Quenlo/layout/RingLayout.h"
#include "tests/support/log_capture.h"
#include "tests/support/named_objects.h"
#include "tests/support/event_recorder.h"
#include "tests/support/raw_pipe_server.h"
#include "tests/support/child_process.h"
#include "tests/support/unique_name.h"
#include "tools/common/quenlo_exports.h"

namespace {

using BrisqFramework::BrisqRef;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using Quenlo::PipeClient;
using test_support::EventExists;
using test_support::LogCapture;
using test_support::MappingExists;
using test_support::MutexExists;
using test_support::PipeEvent;
using test_support::RawPipeServer;
using test_support::SemaphoreExists;
using test_support::UniqueName;

constexpr DWORD kWaitMs = 10000;

std::wstring ObjectName(const wchar_t* prefix, int index, const std::wstring& name) {
  return std::wstring(L"Global\\") + prefix + L"_" + std::to_wstring(index) + L"_" + name;
}

// --- Kernel objects, looked at as the server would ------------------------------------

// An opened named semaphore whose count can be read without changing it.
class SemaphoreProbe {
 public:
  explicit SemaphoreProbe(const std::wstring& name)
      : handle_(::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, name.c_str())) {}
  ~SemaphoreProbe() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  bool IsOpen() const { return handle_ != nullptr; }
  LONG Count() const {
    LONG previous = -1;
    ::ReleaseSemaphore(handle_, 1, &previous);
    ::WaitForSingleObject(handle_, 0);
    return previous;
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// --- Packets ------------------------------------------------------------------------

struct VideoFrame {
  std::vector<uint8_t> pixels;
  MediaPacket packet = {};
};

VideoFrame MakeVideo(uint32_t channel, uint32_t width, uint32_t height) {
  VideoFrame frame;
  frame.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = static_cast<uint8_t>(i * 7);
  frame.packet.kind = MEDIA_PACKET_VIDEO;
  frame.packet.channel = channel;
  frame.packet.width = width;
  frame.packet.height = height;
  frame.packet.format = 12;  // packed, 4 bytes a pixel
  frame.packet.data[0] = frame.pixels.data();
  frame.packet.linesize[0] = static_cast<int32_t>(width * 4);
  return frame;
}

struct AudioBlock {
  std::vector<uint8_t> bytes;
  MediaPacket packet = {};
};

AudioBlock MakeAudio(uint32_t channel, uint32_t size) {
  AudioBlock block;
  block.bytes.resize(size);
  for (size_t i = 0; i < block.bytes.size(); ++i) block.bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  block.packet.kind = MEDIA_PACKET_AUDIO;
  block.packet.channel = channel;
  block.packet.width = 48000;
  block.packet.data[0] = block.bytes.data();
  block.packet.audio_bytes = size;
  return block;
}

// --- Events ------------------------------------------------------------------------

// The shared recorder, keeping the client's IsConnected with each event.
// With `send_on_connected` it answers EVENT_CONNECTED the way the panel
// does: three sends from inside the callback.
class EventRecorder : public test_support::EventRecorder {
 public:
  explicit EventRecorder(PipeClient* client = nullptr, bool send_on_connected = false) {
    SetClient(client, send_on_connected);
  }
  void SetClient(PipeClient* client, bool send_on_connected = false) {
    is_connected = [client] { return client != nullptr ? client->IsConnected() : 0; };
    if (!send_on_connected) return;
    inspect = [this, client](PipeEvent& e, const char*, uint32_t) {
      if (e.event != EVENT_CONNECTED) return;
      for (const char* text : {"OPEN_LIVE_DATA", "OPEN_WIN_FOCUS", "OPEN_WIN_CLOSE"}) {
        const bool sent =
            client->SendMessage(101, text, static_cast<uint32_t>(std::strlen(text))) != 0;
        (sent ? sends_ok : sends_failed).fetch_add(1);
      }
    };
  }
  std::atomic<int> sends_ok{0};
  std::atomic<int> sends_failed{0};
};

// A client with its recorder; Destroy and the last Release at the end.
class PipeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IPipeClientPtr();
    recorder_.SetClient(client_);
    client_->SetCallback(&EventRecorder::Callback, &recorder_);
  }
  void TearDown() override {
    client_->Destroy();
    EXPECT_EQ(0u, client_->Release());
  }
  void IPipeClientPtr() {
    Quenlo::IPipeClient* created = nullptr;
    ASSERT_EQ(1, CreatePipeClient(&created));
    client_ = static_cast<PipeClient*>(created);
  }

  // Starts a raw server under a fresh name and connects the client to it
  // with `channels` channels.
  void Connect(uint32_t channels) {
    name_ = UniqueName(L"c");
    server_.reset(new RawPipeServer(name_));
    ASSERT_TRUE(server_->Start());
    ASSERT_EQ(1, client_->Create(name_.c_str(), channels));
    ASSERT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED));
    ASSERT_EQ(1u, client_->IsConnected());
  }

  LogCapture log_;
  PipeClient* client_ = nullptr;
  EventRecorder recorder_;
  std::wstring name_;
  std::unique_ptr<RawPipeServer> server_;
};

// --- Reference counting and the interface --------------------------------------------------

TEST_F(PipeClientTest, QueryInterfaceHandsOutTheSameObjectWithOneMoreReference) {
  void* out = nullptr;
  ASSERT_EQ(Quenlo::kQueryInterfaceOk, client_->QueryInterface(Quenlo::IID_IMSUnknown, &out));
  EXPECT_EQ(static_cast<Quenlo::IPipeClient*>(client_), out);
  EXPECT_EQ(3u, client_->AddRef());  // created 1, QueryInterface 2, this 3
  EXPECT_EQ(2u, client_->Release());
  EXPECT_EQ(1u, client_->Release());

  out = nullptr;
  ASSERT_EQ(Quenlo::kQueryInterfaceOk, client_->QueryInterface(Quenlo::IID_IPipeClient, &out));
  EXPECT_EQ(static_cast<Quenlo::IPipeClient*>(client_), out);
  EXPECT_EQ(1u, client_->Release());
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
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 0, too_long)));
  // Nor under the name cut to 129 characters.
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 0, too_long.substr(0, 129))));
  EXPECT_EQ(-1, log_.IndexOf(kLogInfo, "[PipeClient] Create(begin,...)"));
}

TEST_F(PipeClientTest, NameOfExactly129CharactersConnects) {
  name_ = UniqueName(L"edge");
  name_.resize(129, L'y');
  server_.reset(new RawPipeServer(name_));
  ASSERT_TRUE(server_->Start());
  ASSERT_EQ(1, client_->Create(name_.c_str(), 1));
  EXPECT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED));
  EXPECT_TRUE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 0, name_)));
}

TEST_F(PipeClientTest, AbsurdChannelCountIsRefusedAtOnce) {
  const std::wstring name = UniqueName(L"many");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, client_->Create(name.c_str(), 0xFFFFFFFFu));  // "--maxChannels=-1"
  EXPECT_EQ(0, client_->Create(name.c_str(), Quenlo::kMaxPipeChannels + 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(2, log_.Count(kLogError, "Failed to Create(too many channels)"));
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"AudioPipeSemaphore", 0, name)));
  EXPECT_FALSE(MutexExists(L"Global\\PipeMutex_" + name));
}

TEST_F(PipeClientTest, TheLargestChannelCountIsAccepted) {
  Connect(Quenlo::kMaxPipeChannels);
  EXPECT_TRUE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 1023, name_)));
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 1024, name_)));
}

// --- Named objects ------------------------------------------------------------------------------

TEST_F(PipeClientTest, CreateMakesEveryNamedObjectUnderItsExactName) {
  Connect(2);
  EXPECT_TRUE(MutexExists(L"Global\\PipeMutex_" + name_));
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(SemaphoreExists(ObjectName(L"AudioPipeSemaphore", i, name_))) << i;
    EXPECT_TRUE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", i, name_))) << i;
    EXPECT_TRUE(EventExists(ObjectName(L"AudioPipeEvent", i, name_))) << i;
  }
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"AudioPipeSemaphore", 2, name_)));
  // The rings are mapped on the first packet of their channel and kind.
  EXPECT_FALSE(MappingExists(ObjectName(L"PIPE_VIDEO", 1, name_)));
  VideoFrame frame = MakeVideo(1, 16, 8);
  AudioBlock block = MakeAudio(1, 64);
  ASSERT_EQ(1, client_->WritePacketAsync(&frame.packet));
  ASSERT_EQ(1, client_->WritePacketAsync(&block.packet));
  EXPECT_TRUE(MappingExists(ObjectName(L"PIPE_VIDEO", 1, name_)));
  EXPECT_TRUE(MappingExists(ObjectName(L"PIPE_AUDIO", 1, name_)));
  EXPECT_FALSE(MappingExists(ObjectName(L"PIPE_VIDEO", 0, name_)));
}

TEST_F(PipeClientTest, DestroyClosesTheLinkAndWakesEveryReaderOnce) {
  Connect(2);
  SemaphoreProbe audio(ObjectName(L"AudioPipeSemaphore", 1, name_));
  SemaphoreProbe video(ObjectName(L"VideoPipeSemaphore", 1, name_));
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

// --- Messages
// -------------------------------------------------------------------------------------

TEST_F(PipeClientTest, SendMessageBeforeTheHelloFailsWithInvalidState) {
  EXPECT_EQ(0, client_->SendMessage(101, "x", 1));  // before Create
  name_ = UniqueName(L"mute");
  server_.reset(new RawPipeServer(name_, /*answer_hello=*/false));
  ASSERT_TRUE(server_->Start());
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
  const int end = log_.IndexOf(kLogInfo, "[PipeClient] Create(end,...)");
  ASSERT_GE(begin, 0);
  EXPECT_GT(end, begin);
  EXPECT_TRUE(log_.WaitFor(kLogInfo, "[PipeClient] EVENT_CONNECTED", 1, kWaitMs));
  EXPECT_EQ(::GetCurrentProcessId(), server_->ClientProcessId());

  const std::string text = "{\"method\":\"x.subscribeEvent\"}";
  ASSERT_EQ(1, client_->SendMessage(101, text.data(), static_cast<uint32_t>(text.size())));
  ASSERT_TRUE(server_->WaitMessages(1, kWaitMs));
  EXPECT_EQ(101u, server_->Messages()[0].type);
  EXPECT_EQ(text, server_->Messages()[0].data);

  ASSERT_TRUE(server_->Send(7, "from host"));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_MESSAGE));
  const PipeEvent message = recorder_.Events()[recorder_.IndexOf(EVENT_MESSAGE)];
  EXPECT_EQ(7u, message.type);
  EXPECT_EQ("from host", message.data);

  VideoFrame frame = MakeVideo(0, 16, 8);
  AudioBlock block = MakeAudio(0, 64);
  EXPECT_EQ(0, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(0, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(0, client_->WritePacket(&block.packet, 10));
  EXPECT_EQ(0, client_->WritePacketAsync(&block.packet));
  EXPECT_EQ(4, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=0)"));
  EXPECT_FALSE(SemaphoreExists(ObjectName(L"VideoPipeSemaphore", 0, name_)));
}

// --- Packets: refusals ---------------------------------------------------------------------------

TEST_F(PipeClientTest, PacketsAreRefusedWithoutPacketOrConnection) {
  VideoFrame frame = MakeVideo(0, 16, 8);
  EXPECT_EQ(0, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(0, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacket(invalid state)"));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacketAsync(invalid state)"));
  EXPECT_EQ(0, client_->WritePacket(nullptr, 10));
  EXPECT_EQ(0, client_->WritePacketAsync(nullptr));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacket(invalid parameter)"));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to WritePacketAsync(invalid parameter)"));
}

TEST_F(PipeClientTest, ChannelIndexAtOrAboveTheCountIsRefused) {
  Connect(2);
  VideoFrame frame = MakeVideo(2, 16, 8);
  EXPECT_EQ(0, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=2)"));
  frame.packet.channel = 0xFFFFFFFFu;
  EXPECT_EQ(0, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(1, log_.Count(kLogError, "Failed to GetPipeItem(invalid index=-1)"));
  EXPECT_FALSE(MappingExists(ObjectName(L"PIPE_VIDEO", 2, name_)));
}

TEST_F(PipeClientTest, OtherKindsSucceedAndWriteNothing) {
  Connect(1);
  SemaphoreProbe video(ObjectName(L"VideoPipeSemaphore", 0, name_));
  SemaphoreProbe audio(ObjectName(L"AudioPipeSemaphore", 0, name_));
  VideoFrame frame = MakeVideo(0, 16, 8);
  for (uint32_t kind : {0u, 3u, 0xFFFFFFFFu}) {
    frame.packet.kind = kind;
    EXPECT_EQ(1, client_->WritePacket(&frame.packet, 10)) << kind;
    EXPECT_EQ(1, client_->WritePacketAsync(&frame.packet)) << kind;
  }
  EXPECT_EQ(0, video.Count());
  EXPECT_EQ(0, audio.Count());
  EXPECT_FALSE(MappingExists(ObjectName(L"PIPE_VIDEO", 0, name_)));
  EXPECT_FALSE(MappingExists(ObjectName(L"PIPE_AUDIO", 0, name_)));
}

// A packet the ring refuses is not announced: a semaphore count would make
// the server deliver a stale or empty slot as if it were this packet, and
// no acknowledgement can come for audio that was never stored.
TEST_F(PipeClientTest, RefusedPacketSucceedsButIsNotAnnounced) {
  Connect(1);
  SemaphoreProbe video(ObjectName(L"VideoPipeSemaphore", 0, name_));
  SemaphoreProbe audio(ObjectName(L"AudioPipeSemaphore", 0, name_));
  VideoFrame good = MakeVideo(0, 16, 8);
  ASSERT_EQ(1, client_->WritePacket(&good.packet, 10));
  ASSERT_EQ(1, video.Count());

  MediaPacket oversized = {};
  oversized.kind = MEDIA_PACKET_VIDEO;
  oversized.width = 1921;
  oversized.height = 1080;
  oversized.format = 12;
  EXPECT_EQ(1, client_->WritePacket(&oversized, 10));
  EXPECT_EQ(1, client_->WritePacketAsync(&oversized));
  EXPECT_EQ(1, video.Count());
  EXPECT_EQ(2, log_.Count(kLogError, "Failed to SendPacket(invalid video size(1921,1080)"));

  AudioBlock too_long = MakeAudio(0, Quenlo::kAudioPayloadSize + 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&too_long.packet, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(1, client_->WritePacketAsync(&too_long.packet));
  EXPECT_EQ(0, audio.Count());
}

// --- Packets: what reaches the rings ------------------------------------------------------------

TEST_F(PipeClientTest, VideoFrameLandsInTheRingAndIsAnnouncedOnce) {
  Connect(1);
  SemaphoreProbe video(ObjectName(L"VideoPipeSemaphore", 0, name_));
  VideoFrame frame = MakeVideo(0, 64, 32);
  frame.packet.timestamp = 123456789;
  ASSERT_EQ(1, client_->WritePacket(&frame.packet, 10));
  EXPECT_EQ(1, video.Count());

  BrisqRef<Quenlo::PipeMemoryVideo> reader(
      new Quenlo::PipeMemoryVideo(ObjectName(L"PIPE_VIDEO", 0, name_).c_str()));
  ASSERT_TRUE(reader->Open());
  EXPECT_EQ(1u, Quenlo::LoadU32(reader->Header() + Quenlo::kHeaderAckRequested));
  MediaPacket read = {};
  ASSERT_TRUE(reader->ReadPacket(&read));
  EXPECT_EQ(64u, read.width);
  EXPECT_EQ(32u, read.height);
  EXPECT_EQ(123456789u, read.timestamp);
  ASSERT_NE(nullptr, read.data[0]);
  EXPECT_EQ(0, std::memcmp(frame.pixels.data(), read.data[0], frame.pixels.size()));

  ASSERT_EQ(1, client_->WritePacketAsync(&frame.packet));
  EXPECT_EQ(2, video.Count());
  EXPECT_EQ(0u, Quenlo::LoadU32(reader->Header() + Quenlo::kHeaderAckRequested));
}

TEST_F(PipeClientTest, AudioWaitsForTheReadersAcknowledgement) {
  Connect(1);
  AudioBlock block = MakeAudio(0, 1000);
  const std::wstring name = name_;
  // The server's audio reader: wake, read the slot, acknowledge.
  std::promise<std::string> read_bytes;
  std::thread server_reader([&read_bytes, name] {
    HANDLE semaphore = ::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE,
                                        ObjectName(L"AudioPipeSemaphore", 0, name).c_str());
    HANDLE event =
        ::OpenEventW(EVENT_ALL_ACCESS, FALSE, ObjectName(L"AudioPipeEvent", 0, name).c_str());
    std::string bytes;
    if (semaphore != nullptr && event != nullptr &&
        ::WaitForSingleObject(semaphore, kWaitMs) == WAIT_OBJECT_0) {
      BrisqRef<Quenlo::PipeMemoryAudio> ring(
          new Quenlo::PipeMemoryAudio(ObjectName(L"PIPE_AUDIO", 0, name).c_str()));
      MediaPacket packet = {};
      if (ring->Open() && ring->ReadPacket(&packet) && ring->AckRequested()) {
        bytes.assign(reinterpret_cast<const char*>(packet.data[0]), packet.audio_bytes);
        ::Sleep(100);  // the writer must still be waiting now
        ::SetEvent(event);
      }
    }
    if (semaphore != nullptr) ::CloseHandle(semaphore);
    if (event != nullptr) ::CloseHandle(event);
    read_bytes.set_value(bytes);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&block.packet, 8000));
  const auto waited = std::chrono::steady_clock::now() - start;
  server_reader.join();
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::milliseconds(4000));
  EXPECT_EQ(std::string(block.bytes.begin(), block.bytes.end()), read_bytes.get_future().get());
}

TEST_F(PipeClientTest, AudioWithoutAcknowledgementStillSucceedsAfterTheTimeout) {
  Connect(1);
  AudioBlock block = MakeAudio(0, 256);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, client_->WritePacket(&block.packet, 300));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_EQ(1, log_.Count(kLogInfo, "WaitForSingleObject timeout 300"));
}

TEST_F(PipeClientTest, AsyncAudioSignalsTheAcknowledgementItselfAndDoesNotWait) {
  Connect(1);
  HANDLE event =
      ::OpenEventW(EVENT_ALL_ACCESS, FALSE, ObjectName(L"AudioPipeEvent", 0, name_).c_str());
  ASSERT_NE(nullptr, event);
  SemaphoreProbe audio(ObjectName(L"AudioPipeSemaphore", 0, name_));
  AudioBlock block = MakeAudio(0, 256);
  EXPECT_EQ(1, client_->WritePacketAsync(&block.packet));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(event, 0));
  EXPECT_EQ(1, audio.Count());
  ::CloseHandle(event);
}

TEST_F(PipeClientTest, WritesGiveBackTheItemReferenceOnEveryPath) {
  Connect(1);
  BrisqRef<PipeClient::PipeItem> item;
  EXPECT_FALSE(client_->GetPipeItem(0, nullptr));
  EXPECT_FALSE(client_->GetPipeItem(1, &item));
  ASSERT_TRUE(client_->GetPipeItem(0, &item));
  ASSERT_EQ(2u, item->RefCount());  // the array's and ours
  EXPECT_EQ(0u, item->index);

  VideoFrame frame = MakeVideo(0, 32, 16);
  AudioBlock block = MakeAudio(0, 128);
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

// The panel subscribes from inside EVENT_CONNECTED. Teardown must not hold a
// lock those sends need while it joins the thread that runs the callback.
// The hang needs the hello to arrive after Destroy began and before the
// channel is closed: even rounds have the server send its hello the moment
// the teardown begins, odd rounds let the hello race freely.
TEST_F(PipeClientTest, DestroyRacingAConnectedCallbackThatSendsNeverHangs) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    const bool at_teardown = round % 2 == 0;
    PipeClient* client = new PipeClient();
    EventRecorder recorder(client, /*send_on_connected=*/true);
    client->SetCallback(&EventRecorder::Callback, &recorder);
    const std::wstring name = UniqueName(L"race");
    RawPipeServer server(name, /*answer_hello=*/!at_teardown, static_cast<DWORD>(round % 4));
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(1, client->Create(name.c_str(), 1));

    if (at_teardown) {
      ASSERT_TRUE(server.WaitClientHello(kWaitMs));  // the client's reader runs
      log_.OnceAfter("[PipeClient] Destroy(begin,...)", [&server] { server.SendHello(); });
    } else {
      ::Sleep(static_cast<DWORD>(round % 7));
    }

    std::packaged_task<void()> destroy([client] { client->Destroy(); });
    std::future<void> done = destroy.get_future();
    std::thread destroyer(std::move(destroy));
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      std::fprintf(stderr, "Destroy hung in round %d: teardown deadlocked with the callback\n",
                   round);
      std::fflush(stderr);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    destroyer.join();

    EXPECT_EQ(0u, client->IsConnected());
    EXPECT_EQ(1u, recorder.Count(EVENT_DISCONNECTED));
    const int connected = recorder.IndexOf(EVENT_CONNECTED);
    if (connected >= 0) {
      EXPECT_LT(connected, recorder.IndexOf(EVENT_DISCONNECTED));
      EXPECT_EQ(3, recorder.sends_ok + recorder.sends_failed);
    }
    EXPECT_EQ(0u, client->Release());
  }
  EXPECT_EQ(0, log_.Count(kLogError, "Failed to Close(called on the reader thread)"));
}

// Writes from a frame thread while a teardown closes the rings: the rings
// are closed only between two writes, never under one. Full-size frames
// into fresh mappings make each write take milliseconds; Destroy comes at
// a moment that moves from round to round, and every other round the
// server's going away starts the teardown instead.
TEST_F(PipeClientTest, WritesRacingATeardownNeverTouchClosedRings) {
  VideoFrame frame = MakeVideo(0, 1920, 1080);
  AudioBlock block = MakeAudio(0, 4096);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    PipeClient* client = new PipeClient();
    EventRecorder recorder(client);
    client->SetCallback(&EventRecorder::Callback, &recorder);
    const std::wstring name = UniqueName(L"writes");
    RawPipeServer server(name);
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(1, client->Create(name.c_str(), 1));
    ASSERT_TRUE(recorder.WaitForCount(EVENT_CONNECTED));

    std::atomic<bool> started{false};
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
      started = true;
      while (!stop) {
        written += client->WritePacketAsync(&frame.packet);
        written += client->WritePacketAsync(&block.packet);
      }
    });
    while (!started) std::this_thread::yield();
    ::Sleep(static_cast<DWORD>(round % 6));
    if (round % 2 == 0) {
      client->Destroy();
    } else {
      server.Close();
      EXPECT_TRUE(
          log_.WaitFor(kLogInfo, "[PipeClient] Destroy(end,...)", (round + 1) / 2, kWaitMs));
    }
    stop = true;
    writer.join();
    client->Destroy();
    EXPECT_EQ(0u, client->Release());
  }
}

}  // namespace
