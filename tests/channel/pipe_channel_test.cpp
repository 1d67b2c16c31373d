// The pipe channel over real named pipes. Most cases play the peer with raw
// Win32 pipe calls, which see exactly the bytes on the wire; one case runs a
// channel in a second process (this binary started again in a peer role).
#include "Quenlo/PipeChannel.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/Common/BrisqRefCount.h"
#include "Quenlo/Quenlo.h"
#include "Quenlo/message/IPCMessage.h"
#include "tests/common/log_capture.h"

namespace Quenlo {
namespace {

using brisq_test::LogCapture;
using BrisqFramework::BrisqHandle;
using BrisqFramework::BrisqRef;
using BrisqFramework::MakeBrisqRef;
using Ravoque::IPCMessage;

constexpr DWORD kWaitMs = 10000;

// --- Helpers -------------------------------------------------------------------

std::wstring UniqueName() {
  static std::atomic<int> counter{0};
  return L"channeltest." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter);
}

std::string UserMessage(uint32_t type, const std::string& text) {
  IPCMessage message(type);
  message.WriteData(text.data(), text.size());
  return std::string(message.Data(), message.Size());
}

std::string IntMessage(uint32_t type, int32_t value) {
  IPCMessage message(type);
  message.WriteInt(value);
  return std::string(message.Data(), message.Size());
}

std::string Hello() { return IntMessage(IPCMessage::kTypeHello, 777); }

uint32_t Le32(const std::string& bytes, size_t at) { return Ravoque::LoadLE32(&bytes[at]); }

struct Event {
  uint32_t event;
  uint32_t type;
  std::string data;
  bool null_data;
};

// Keeps every channel event; tests wait on it instead of sleeping.
class Recorder {
 public:
  static void Callback(uint32_t event, uint32_t type, const char* data, uint32_t length,
                       void* context) {
    auto* self = static_cast<Recorder*>(context);
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->events_.push_back(
          {event, type, data != nullptr ? std::string(data, length) : "", data == nullptr});
    }
    self->changed_.notify_all();
    if (self->on_event) self->on_event(event, type, data, length);
  }

  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& done,
               DWORD timeout_ms = kWaitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return done(events_); });
  }
  bool WaitForCount(uint32_t event, size_t count, DWORD timeout_ms = kWaitMs) {
    return WaitFor([&](const std::vector<Event>& e) { return CountIn(e, event) >= count; },
                   timeout_ms);
  }
  size_t Count(uint32_t event) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountIn(events_, event);
  }
  std::vector<Event> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Event> out;
    for (const Event& e : events_) {
      if (e.event == EVENT_MESSAGE) out.push_back(e);
    }
    return out;
  }
  std::vector<uint32_t> Kinds() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint32_t> out;
    for (const Event& e : events_) out.push_back(e.event);
    return out;
  }

  // Runs on the channel's thread after the event was recorded.
  std::function<void(uint32_t, uint32_t, const char*, uint32_t)> on_event;

 private:
  static size_t CountIn(const std::vector<Event>& events, uint32_t event) {
    size_t n = 0;
    for (const Event& e : events) n += (e.event == event);
    return n;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

// One end of a pipe driven with raw overlapped calls and time limits.
class RawPipe {
 public:
  RawPipe() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~RawPipe() { Close(); }

  // A one-instance server end.
  bool CreateServer(const std::wstring& name) {
    handle_ = ::CreateNamedPipeW(PipeChannel::PipePath(name.c_str()).c_str(),
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 1, 4096, 4096, 3000,
                                 nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }
  // Waits for a client (true also when one connected before the call).
  bool Accept(DWORD timeout_ms = kWaitMs) {
    OVERLAPPED ov = Fresh();
    if (::ConnectNamedPipe(handle_, &ov)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return true;
    if (error != ERROR_IO_PENDING) return false;
    return Finish(&ov, timeout_ms, nullptr);
  }
  bool OpenClient(const std::wstring& name) {
    handle_ =
        ::CreateFileW(PipeChannel::PipePath(name.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }
  bool Write(const std::string& bytes, DWORD timeout_ms = kWaitMs) {
    OVERLAPPED ov = Fresh();
    DWORD n = 0;
    if (!::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &ov) &&
        ::GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    return Finish(&ov, timeout_ms, &n) && n == bytes.size();
  }
  // Reads exactly `size` bytes.
  bool Read(size_t size, std::string* out, DWORD timeout_ms = kWaitMs) {
    out->assign(size, '\0');
    size_t got = 0;
    while (got < size) {
      OVERLAPPED ov = Fresh();
      DWORD n = 0;
      if (!::ReadFile(handle_, &(*out)[got], static_cast<DWORD>(size - got), &n, &ov) &&
          ::GetLastError() != ERROR_IO_PENDING) {
        return false;
      }
      if (!Finish(&ov, timeout_ms, &n) || n == 0) return false;
      got += n;
    }
    return true;
  }
  // Reads one whole message (header, then its payload).
  bool ReadMessage(std::string* out) {
    std::string header;
    if (!Read(16, &header)) return false;
    std::string payload;
    if (Le32(header, 0) != 0 && !Read(Le32(header, 0), &payload)) return false;
    *out = header + payload;
    return true;
  }
  bool Disconnect() { return ::DisconnectNamedPipe(handle_) != 0; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  OVERLAPPED Fresh() {
    ::ResetEvent(event_.Get());
    OVERLAPPED ov = {};
    ov.hEvent = event_.Get();
    return ov;
  }
  bool Finish(OVERLAPPED* ov, DWORD timeout_ms, DWORD* n) {
    DWORD count = 0;
    if (::WaitForSingleObject(event_.Get(), timeout_ms) != WAIT_OBJECT_0) {
      ::CancelIoEx(handle_, ov);
      ::GetOverlappedResult(handle_, ov, &count, TRUE);
      return false;
    }
    const bool ok = ::GetOverlappedResult(handle_, ov, &count, FALSE) != 0;
    if (n != nullptr) *n = count;
    return ok;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  BrisqHandle event_;
};

// A channel with its recorder, and Connect on a thread of its own.
struct ChannelUnderTest {
  Recorder recorder;  // outlives the channel, which reports to it when it goes
  BrisqRef<PipeChannel> channel = MakeBrisqRef<PipeChannel>();
  std::thread connect_thread;
  std::atomic<int> connect_result{-1};

  ChannelUnderTest() { channel->SetCallback(&Recorder::Callback, &recorder); }
  ~ChannelUnderTest() {
    if (channel) channel->Close();  // ends a Connect that still waits
    if (connect_thread.joinable()) connect_thread.join();
  }
  void StartConnect() {
    PipeChannel* raw = channel.Get();
    connect_thread = std::thread([this, raw] { connect_result = raw->Connect() ? 1 : 0; });
  }
  void JoinConnect() {
    if (connect_thread.joinable()) connect_thread.join();
  }
};

bool HasLine(const LogCapture& capture, const std::string& text) {
  for (const std::string& line : capture.Texts()) {
    if (line.find(": " + text + "\n") != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> ErrorLines(const LogCapture& capture) {
  std::vector<std::string> out;
  for (const brisq_test::CapturedLine& line : capture.Lines()) {
    if (line.severity >= 2) out.push_back(line.text);
  }
  return out;
}

// A connected pair: the channel as client of a raw server that has read the
// channel's hello and sent its own.
struct ClientOfRawServer {
  LogCapture capture;
  std::wstring name = UniqueName();
  RawPipe server;
  ChannelUnderTest client;
  std::string client_hello;

  void Start(bool send_hello = true) {
    ASSERT_TRUE(server.CreateServer(name));
    ASSERT_TRUE(client.channel->Open(name.c_str(), PipeChannel::kModeClient));
    ASSERT_TRUE(server.Accept());
    client.StartConnect();
    client.JoinConnect();
    ASSERT_EQ(client.connect_result, 1);
    ASSERT_TRUE(server.Read(20, &client_hello));
    if (send_hello) {
      ASSERT_TRUE(server.Write(Hello()));
      ASSERT_TRUE(client.recorder.WaitForCount(EVENT_CONNECTED, 1));
    }
  }
};

// --- Wire: what each side writes and what reaches the callback -----------------

TEST(PipeChannelWire, ClientHelloIsTheFirst20BytesEvenWhenSendCameFirst) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  RawPipe server;
  ASSERT_TRUE(server.CreateServer(name));
  ChannelUnderTest client;
  ASSERT_TRUE(client.channel->Open(name.c_str(), PipeChannel::kModeClient));
  EXPECT_TRUE(HasLine(capture, "hello message inserted"));
  // Queued before the channel runs: must follow the hello, not precede it.
  ASSERT_TRUE(client.channel->Send(42, "early", 5));
  ASSERT_TRUE(server.Accept());
  client.StartConnect();

  std::string hello;
  ASSERT_TRUE(server.Read(20, &hello));
  EXPECT_EQ(Le32(hello, 0), 4u);
  EXPECT_EQ(Le32(hello, 4), 0xFFFFFFFEu);  // routing -2
  EXPECT_EQ(Le32(hello, 8), 65535u);
  EXPECT_EQ(Le32(hello, 16), ::GetCurrentProcessId());

  std::string message;
  ASSERT_TRUE(server.ReadMessage(&message));
  EXPECT_EQ(Le32(message, 8), 42u);
  EXPECT_EQ(Le32(message, 4), 0xFFFFFFFEu);
  EXPECT_EQ(Le32(message, 16), 5u);  // the blob's length
  EXPECT_EQ(message.substr(20, 5), "early");
  EXPECT_EQ(message.size(), 16u + 12u);  // padded to a multiple of 4
}

TEST(PipeChannelWire, ServerHelloIsTheFirst20BytesAndThePeersHelloConnects) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  server.StartConnect();
  RawPipe client;
  ASSERT_TRUE(client.OpenClient(name));
  std::string hello;
  ASSERT_TRUE(client.Read(20, &hello));
  EXPECT_EQ(Le32(hello, 0), 4u);
  EXPECT_EQ(Le32(hello, 4), 0xFFFFFFFEu);
  EXPECT_EQ(Le32(hello, 8), 65535u);
  EXPECT_EQ(Le32(hello, 16), ::GetCurrentProcessId());
  server.JoinConnect();
  EXPECT_EQ(server.connect_result, 1);

  EXPECT_EQ(server.channel->GetState(), PipeChannel::kStateOpening);
  ASSERT_TRUE(client.Write(Hello()));
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_CONNECTED, 1));
  EXPECT_EQ(server.channel->GetState(), PipeChannel::kStateConnected);
  EXPECT_TRUE(server.recorder.Messages().empty()) << "the hello is not a user message";
}

// What the server end is created with, seen through the channel's seam:
// Wine accepts PIPE_REJECT_REMOTE_CLIENTS but never enforces it.
struct CreatedPipe {
  DWORD open_mode = 0;
  DWORD pipe_mode = 0;
  DWORD max_instances = 0;
  BOOL inherit = TRUE;
  HANDLE handle = INVALID_HANDLE_VALUE;
};
CreatedPipe g_created;

HANDLE WINAPI RecordCreateNamedPipe(LPCWSTR name, DWORD open_mode, DWORD pipe_mode, DWORD instances,
                                    DWORD out_size, DWORD in_size, DWORD timeout,
                                    LPSECURITY_ATTRIBUTES attributes) {
  g_created = {open_mode, pipe_mode, instances,
               attributes != nullptr ? attributes->bInheritHandle : FALSE};
  g_created.handle = ::CreateNamedPipeW(name, open_mode, pipe_mode, instances, out_size, in_size,
                                        timeout, attributes);
  return g_created.handle;
}

TEST(PipeChannelWire, ServerEndRefusesRemoteClientsAndIsNotInherited) {
  PipeChannel::SetCreateNamedPipeForTesting(&RecordCreateNamedPipe);
  ChannelUnderTest server;
  const bool opened = server.channel->Open(UniqueName().c_str(), PipeChannel::kModeServer);
  PipeChannel::SetCreateNamedPipeForTesting(nullptr);
  ASSERT_TRUE(opened);
  // Duplex | overlapped | write-through; byte mode, blocking, local only.
  EXPECT_EQ(g_created.open_mode, 0xC0000003u);
  EXPECT_EQ(g_created.pipe_mode, 0x8u);
  EXPECT_EQ(g_created.max_instances, 1u);
  EXPECT_FALSE(g_created.inherit);
  DWORD flags = ~0u;
  ASSERT_TRUE(::GetHandleInformation(g_created.handle, &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

// The client connects between CreateNamedPipe and ConnectNamedPipe, which
// then fails with 535 (ERROR_PIPE_CONNECTED): a connected client all the same.
TEST(PipeChannelWire, ClientThatCameBeforeTheAcceptGetsTheHelloAndIsRead) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  RawPipe client;
  ASSERT_TRUE(client.OpenClient(name));
  server.StartConnect();
  server.JoinConnect();
  EXPECT_EQ(server.connect_result, 1);
  std::string hello;
  ASSERT_TRUE(client.Read(20, &hello));
  EXPECT_EQ(Le32(hello, 8), 65535u);
  ASSERT_TRUE(client.Write(Hello() + UserMessage(7, "after")));
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_MESSAGE, 1));
  EXPECT_EQ(server.recorder.Count(EVENT_CONNECTED), 1u);
  EXPECT_EQ(server.recorder.Messages()[0].type, 7u);
  EXPECT_EQ(ErrorLines(capture), std::vector<std::string>{});
}

TEST(PipeChannelWire, ServerSendBeforeTheClientComesFollowsTheHello) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  ASSERT_TRUE(server.channel->Send(42, "early", 5)) << "queued while waiting for the client";
  server.StartConnect();
  RawPipe client;
  ASSERT_TRUE(client.OpenClient(name));
  std::string hello;
  ASSERT_TRUE(client.Read(20, &hello));
  EXPECT_EQ(Le32(hello, 8), 65535u);
  std::string message;
  ASSERT_TRUE(client.ReadMessage(&message));
  EXPECT_EQ(Le32(message, 8), 42u);
  EXPECT_EQ(message.substr(20, 5), "early");
  server.JoinConnect();
  EXPECT_EQ(server.connect_result, 1);
}

TEST(PipeChannelWire, InternalTypesFromThePeerAreNeverDelivered) {
  ClientOfRawServer pair;
  pair.Start();
  std::string internal = IntMessage(IPCMessage::kTypeInternal, 5) +
                         UserMessage(IPCMessage::kTypeIgnored, "ignored") +
                         UserMessage(IPCMessage::kTypeInternal, "also internal");
  ASSERT_TRUE(pair.server.Write(internal));
  ASSERT_TRUE(pair.server.Write(UserMessage(9, "marker")));
  ASSERT_TRUE(pair.client.recorder.WaitFor(
      [](const std::vector<Event>& e) { return !e.empty() && e.back().event == EVENT_MESSAGE; }));
  const std::vector<Event> messages = pair.client.recorder.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, 9u);
  EXPECT_EQ(messages[0].data, "marker");
  EXPECT_EQ(pair.client.recorder.Count(EVENT_BROKEN), 0u);
}

TEST(PipeChannelWire, MessageLargerThanThreeReadsArrivesOnceWhole) {
  ClientOfRawServer pair;
  pair.Start();
  // 9000 bytes cannot come in fewer than three 4096-byte reads; the writes
  // split it at other places again.
  std::string text(9000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  const std::string wire = UserMessage(12, text);
  ASSERT_TRUE(pair.server.Write(wire.substr(0, 10)));
  ASSERT_TRUE(pair.server.Write(wire.substr(10, 5000)));
  ASSERT_TRUE(pair.server.Write(wire.substr(5010)));
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_MESSAGE, 1));
  ASSERT_TRUE(pair.server.Write(UserMessage(13, "after")));
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_MESSAGE, 2));
  const std::vector<Event> messages = pair.client.recorder.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].type, 12u);
  EXPECT_EQ(messages[0].data, text);
  EXPECT_EQ(messages[1].data, "after");
}

TEST(PipeChannelWire, TwoMessagesInOneWriteArriveInOrder) {
  ClientOfRawServer pair;
  pair.Start();
  ASSERT_TRUE(pair.server.Write(UserMessage(1, "one") + UserMessage(2, "two")));
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_MESSAGE, 2));
  const std::vector<Event> messages = pair.client.recorder.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].type, 1u);
  EXPECT_EQ(messages[0].data, "one");
  EXPECT_EQ(messages[1].type, 2u);
  EXPECT_EQ(messages[1].data, "two");
}

TEST(PipeChannelWire, HeaderAnnouncingMoreThan128MiBBreaksTheChannel) {
  ClientOfRawServer pair;
  pair.Start();
  std::string header(16, '\0');
  Ravoque::StoreLE32(&header[0], 0x8000000u - 16u + 1u);  // one byte over, in total
  Ravoque::StoreLE32(&header[4], 0xFFFFFFFEu);
  Ravoque::StoreLE32(&header[8], 5);
  ASSERT_TRUE(pair.server.Write(header));
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_TRUE(HasLine(pair.capture, "Failed to CheckMessageSize"));
  EXPECT_TRUE(HasLine(pair.capture, "Failed to OnIOCompleted(TranslateInput)"));
  EXPECT_EQ(pair.client.channel->GetState(), PipeChannel::kStateBroken);
  // The owner closes: one EVENT_DISCONNECTED, after the break.
  pair.client.channel->Close();
  EXPECT_EQ(pair.client.recorder.Kinds(),
            (std::vector<uint32_t>{EVENT_CONNECTED, EVENT_BROKEN, EVENT_DISCONNECTED}));
}

TEST(PipeChannelWire, PeerClosingGivesBrokenWithoutErrorThenOneDisconnected) {
  ClientOfRawServer pair;
  pair.Start();
  pair.server.Close();
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_EQ(pair.client.channel->GetState(), PipeChannel::kStateBroken);
  EXPECT_EQ(ErrorLines(pair.capture), std::vector<std::string>{});
  EXPECT_EQ(pair.client.recorder.Count(EVENT_DISCONNECTED), 0u)
      << "the channel never closes itself";
  pair.client.channel.Reset();  // the last reference: deletion closes
  EXPECT_EQ(pair.client.recorder.Kinds(),
            (std::vector<uint32_t>{EVENT_CONNECTED, EVENT_BROKEN, EVENT_DISCONNECTED}));
  EXPECT_TRUE(HasLine(pair.capture, "[PipeChannel] destructor"));
}

TEST(PipeChannelWire, PeerClosedBeforeTheNextReadIsAlsoQuiet) {
  ClientOfRawServer pair;
  // Holds the reader thread inside the callback until the peer has closed,
  // so the channel's next read finds the pipe broken at once instead of
  // completing later: the same break, and told the same way.
  BrisqHandle peer_closed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  pair.client.recorder.on_event = [&](uint32_t event, uint32_t, const char*, uint32_t) {
    if (event == EVENT_MESSAGE) ::WaitForSingleObject(peer_closed.Get(), kWaitMs);
  };
  pair.Start();
  ASSERT_TRUE(pair.server.Write(UserMessage(6, "last words")));
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_MESSAGE, 1));
  pair.server.Close();
  ::SetEvent(peer_closed.Get());
  ASSERT_TRUE(pair.client.recorder.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_EQ(ErrorLines(pair.capture), std::vector<std::string>{});
  pair.client.channel.Reset();
  pair.client.recorder.on_event = nullptr;
}

// --- Connecting ---------------------------------------------------------------

// The 30 s deadline itself is checked by value; the loop runs on a shortened
// one so the test does not wait 30 s.
TEST(PipeChannelConnecting, NoServer_TimesOutAfter30s) {
  EXPECT_EQ(PipeChannel::kConnectDeadlineMs, 30000u);
  LogCapture capture;
  ChannelUnderTest client;
  client.channel->SetConnectDeadlineForTesting(600);
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_FALSE(client.channel->Open(UniqueName().c_str(), PipeChannel::kModeClient));
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  EXPECT_GE(elapsed, 600u);
  EXPECT_LT(elapsed, 10000u);
  EXPECT_TRUE(HasLine(capture, "ipc connect timeout"));
  EXPECT_EQ(client.recorder.Kinds(), std::vector<uint32_t>{EVENT_DISCONNECTED});
  EXPECT_EQ(client.channel->GetState(), PipeChannel::kStateClosed);
}

TEST(PipeChannelConnecting, SecondClientRetriesWhileTheOnlyInstanceIsBusy) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  RawPipe server;
  ASSERT_TRUE(server.CreateServer(name));
  RawPipe first;
  ASSERT_TRUE(first.OpenClient(name));
  ASSERT_TRUE(server.Accept());

  ChannelUnderTest second;
  std::atomic<int> opened{-1};
  std::thread opener(
      [&] { opened = second.channel->Open(name.c_str(), PipeChannel::kModeClient) ? 1 : 0; });
  // A second round of the loop means the first one found the pipe busy.
  auto tries = [&] {
    int n = 0;
    for (const std::string& line : capture.Texts()) {
      n += line.find(": Try to connect server[") != std::string::npos;
    }
    return n;
  };
  for (int i = 0; i < 2000 && tries() < 2; ++i) ::Sleep(10);
  ASSERT_GE(tries(), 2);
  EXPECT_EQ(opened, -1) << "still trying while the instance is in use";

  // The first client goes away; the server offers its instance again.
  first.Close();
  ASSERT_TRUE(server.Disconnect());
  ASSERT_TRUE(server.Accept(40000));
  opener.join();
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(HasLine(capture, "ipc connect timeout"));
  second.StartConnect();
  std::string hello;
  ASSERT_TRUE(server.Read(20, &hello));
  EXPECT_EQ(Le32(hello, 8), 65535u);
}

TEST(PipeChannelConnecting, SendWhileAWriteIsPendingQueuesAndKeepsOrder) {
  ClientOfRawServer pair;
  pair.Start();
  // The server does not read: the pipe's buffer fills and writes stay pending.
  constexpr int kCount = 40;
  size_t most_queued = 0;
  for (int i = 0; i < kCount; ++i) {
    const std::string text = std::to_string(i) + std::string(1000, static_cast<char>('A' + i % 26));
    ASSERT_TRUE(
        pair.client.channel->Send(100 + i, text.data(), static_cast<uint32_t>(text.size())));
    most_queued = std::max(most_queued, pair.client.channel->QueuedMessages());
  }
  EXPECT_GT(most_queued, 1u) << "later messages wait behind the pending write";
  for (int i = 0; i < kCount; ++i) {
    std::string message;
    ASSERT_TRUE(pair.server.ReadMessage(&message)) << i;
    EXPECT_EQ(Le32(message, 8), static_cast<uint32_t>(100 + i));
    const std::string text = std::to_string(i) + std::string(1000, static_cast<char>('A' + i % 26));
    EXPECT_EQ(message.substr(20, text.size()), text) << i;
  }
  // Each completed write takes its message off the queue.
  for (int i = 0; i < 1000 && pair.client.channel->QueuedMessages() != 0; ++i) ::Sleep(5);
  EXPECT_EQ(pair.client.channel->QueuedMessages(), 0u);
}

// --- Opening and closing ----------------------------------------------------------

TEST(PipeChannelLifecycle, CloseTwiceGivesOneDisconnected) {
  ClientOfRawServer pair;
  pair.Start();
  pair.client.channel->Close();
  pair.client.channel->Close();
  EXPECT_EQ(pair.client.channel->GetState(), PipeChannel::kStateClosed);
  pair.client.channel.Reset();
  EXPECT_EQ(pair.client.recorder.Count(EVENT_DISCONNECTED), 1u);
  int closes = 0;
  for (const std::string& line : pair.capture.Texts()) {
    closes += line.find(": [PipeChannel] Close\n") != std::string::npos;
  }
  EXPECT_EQ(closes, 3) << "each Close, and the deletion's, logs its line";
  EXPECT_EQ(ErrorLines(pair.capture), std::vector<std::string>{}) << "closing is not a failure";
}

TEST(PipeChannelLifecycle, CloseWithAWriteStuckInAFullPipeReturns) {
  ClientOfRawServer pair;
  pair.Start();
  // Nobody reads: the write in flight can only end by being cancelled, and
  // Close must wait for that before the channel's records can go away.
  const std::string text(3000, 'z');
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(pair.client.channel->Send(1, text.data(), static_cast<uint32_t>(text.size())));
  }
  ASSERT_GT(pair.client.channel->QueuedMessages(), 1u);
  pair.client.channel.Reset();
  EXPECT_EQ(pair.client.recorder.Count(EVENT_DISCONNECTED), 1u);
}

TEST(PipeChannelLifecycle, ConcurrentClosesReportOneDisconnected) {
  ClientOfRawServer pair;
  pair.Start();
  std::vector<std::thread> closers;
  for (int i = 0; i < 4; ++i) closers.emplace_back([&] { pair.client.channel->Close(); });
  for (std::thread& t : closers) t.join();
  EXPECT_EQ(pair.client.recorder.Count(EVENT_DISCONNECTED), 1u);
}

TEST(PipeChannelLifecycle, SendAfterCloseIsRefused) {
  ClientOfRawServer pair;
  pair.Start();
  pair.client.channel->Close();
  EXPECT_FALSE(pair.client.channel->Send(1, "x", 1));
  EXPECT_TRUE(HasLine(pair.capture, "Can't send msg(Pipe is empty)"));
  EXPECT_FALSE(pair.client.channel->Connect());
  EXPECT_TRUE(HasLine(pair.capture, "Can't connect(Pipe is empty)"));
}

TEST(PipeChannelLifecycle, CloseEndsAConnectThatWaitsForItsClient) {
  LogCapture capture;
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(UniqueName().c_str(), PipeChannel::kModeServer));
  server.StartConnect();
  for (int i = 0; i < 1000 && !HasLine(capture, "ConnectNamedPipe(IO_PENDING)"); ++i) ::Sleep(5);
  ASSERT_TRUE(HasLine(capture, "ConnectNamedPipe(IO_PENDING)"));
  server.channel->Close();
  server.JoinConnect();
  EXPECT_EQ(server.connect_result, 0);
  EXPECT_EQ(server.recorder.Kinds(), std::vector<uint32_t>{EVENT_DISCONNECTED});
}

TEST(PipeChannelLifecycle, NameLongerThan129CharactersIsRefused) {
  LogCapture capture;
  const std::wstring base = UniqueName();
  const std::wstring fits = base + std::wstring(PipeChannel::kMaxNameLength - base.size(), L'n');
  const std::wstring too_long = fits + L"x";

  ChannelUnderTest refused;
  EXPECT_FALSE(refused.channel->Open(too_long.c_str(), PipeChannel::kModeServer));
  EXPECT_TRUE(HasLine(capture, "Failed to Open(pipe name too long)"));
  EXPECT_EQ(refused.recorder.Kinds(), std::vector<uint32_t>{EVENT_DISCONNECTED});
  // Nothing was created under the name cut to the field's size.
  RawPipe probe;
  EXPECT_FALSE(probe.OpenClient(fits));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // 129 characters are fine, and the pipe carries the whole name.
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(fits.c_str(), PipeChannel::kModeServer));
  RawPipe client;
  EXPECT_TRUE(client.OpenClient(fits));
}

TEST(PipeChannelLifecycle, SecondOpenOfAnOpenChannelIsRefusedAndKeepsIt) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  EXPECT_FALSE(server.channel->Open(UniqueName().c_str(), PipeChannel::kModeServer));
  EXPECT_EQ(server.recorder.Count(EVENT_DISCONNECTED), 0u);
  RawPipe client;
  EXPECT_TRUE(client.OpenClient(name));
}

// --- Two processes -----------------------------------------------------------------

// The peer role: a client channel that announces its process id, echoes
// every message of type 1 as type 2 from its callback, and ends when the
// link breaks.
struct EchoPeer {
  PipeChannel* channel = nullptr;
  BrisqHandle broken{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  static void Callback(uint32_t event, uint32_t type, const char* data, uint32_t length,
                       void* context) {
    auto* self = static_cast<EchoPeer*>(context);
    if (event == EVENT_MESSAGE && type == 1) self->channel->Send(2, data, length);
    if (event == EVENT_BROKEN) ::SetEvent(self->broken.Get());
  }
};

int RunEchoPeer(const std::wstring& name) {
  EchoPeer peer;
  BrisqRef<PipeChannel> channel = MakeBrisqRef<PipeChannel>();
  peer.channel = channel.Get();
  channel->SetCallback(&EchoPeer::Callback, &peer);
  if (!channel->Open(name.c_str(), PipeChannel::kModeClient)) return 10;
  const std::string pid = std::to_string(::GetCurrentProcessId());
  channel->Send(3, pid.data(), static_cast<uint32_t>(pid.size()));
  std::thread connect([&] { channel->Connect(); });
  connect.join();
  if (::WaitForSingleObject(peer.broken.Get(), 30000) != WAIT_OBJECT_0) return 11;
  channel.Reset();
  return 0;
}

int CheckPeerRole() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv != nullptr && argc == 3 && std::wstring(argv[1]) == L"--echo-peer") {
    ::ExitProcess(static_cast<UINT>(RunEchoPeer(argv[2])));
  }
  if (argv != nullptr) ::LocalFree(argv);
  return 0;
}
const int kPeerRole = CheckPeerRole();

TEST(PipeChannelTwoProcesses, ServerAndChildClientExchangeMessagesInOrder) {
  LogCapture capture;
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  server.StartConnect();

  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --echo-peer " + name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // No handle inheritance: the child must not hold our end of the pipe.
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
  BrisqHandle process(info.hProcess);
  BrisqHandle thread(info.hThread);

  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_CONNECTED, 1));
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_MESSAGE, 1));
  const std::vector<Event> first = server.recorder.Messages();
  EXPECT_EQ(first[0].type, 3u);
  EXPECT_EQ(first[0].data, std::to_string(info.dwProcessId));

  constexpr int kCount = 30;
  for (int i = 0; i < kCount; ++i) {
    const std::string text = "message " + std::to_string(i) + std::string(i * 100, '.');
    ASSERT_TRUE(server.channel->Send(1, text.data(), static_cast<uint32_t>(text.size())));
  }
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_MESSAGE, 1 + kCount));
  const std::vector<Event> messages = server.recorder.Messages();
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(messages[1 + i].type, 2u);
    EXPECT_EQ(messages[1 + i].data, "message " + std::to_string(i) + std::string(i * 100, '.'));
  }

  server.channel->Close();  // the child sees the break and ends
  ASSERT_EQ(::WaitForSingleObject(process.Get(), kWaitMs), WAIT_OBJECT_0);
  DWORD code = 99;
  ::GetExitCodeProcess(process.Get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(server.recorder.Count(EVENT_DISCONNECTED), 1u);
}

}  // namespace
}  // namespace Quenlo
