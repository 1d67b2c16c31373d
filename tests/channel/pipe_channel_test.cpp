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
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/log_capture.h"
#include "tests/support/raw_pipe.h"
#include "tests/support/unique_name.h"
#include "tests/support/wait_until.h"

namespace Quenlo {
namespace {

using BrisqFramework::BrisqHandle;
using BrisqFramework::BrisqRef;
using BrisqFramework::MakeBrisqRef;
using Ravoque::IPCMessage;
using test_support::EventRecorder;
using test_support::IntMessage;
using test_support::Le32;
using test_support::LogCapture;
using test_support::LogClock;
using test_support::PipeEvent;
using test_support::RawPipe;
using test_support::UserMessage;

constexpr DWORD kWaitMs = 10000;

// --- Helpers -------------------------------------------------------------------

std::wstring UniqueName() { return test_support::UniqueName(L"channel"); }

std::string Hello() { return test_support::HelloMessage(777); }

// A channel with its recorder, and Connect on a thread of its own.
struct ChannelUnderTest {
  EventRecorder recorder;  // outlives the channel, which reports to it when it goes
  BrisqRef<PipeChannel> channel = MakeBrisqRef<PipeChannel>();
  std::thread connect_thread;
  std::atomic<int> connect_result{-1};

  ChannelUnderTest() { channel->SetCallback(&EventRecorder::RawCallback, &recorder); }
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
  for (const test_support::LogLine& line : capture.Lines()) {
    if (line.severity >= 2) out.push_back(line.text);
  }
  return out;
}

// A connected pair: the channel as client of a raw server that has read the
// channel's hello and sent its own.
struct ClientOfRawServer {
  LogCapture capture{LogClock::kDriven};
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
  LogCapture capture{LogClock::kDriven};
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
  LogCapture capture{LogClock::kDriven};
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
  EXPECT_TRUE(server.recorder.Of(EVENT_MESSAGE).empty()) << "the hello is not a user message";
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
  LogCapture capture{LogClock::kDriven};
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
  EXPECT_EQ(server.recorder.Of(EVENT_MESSAGE)[0].type, 7u);
  EXPECT_EQ(ErrorLines(capture), std::vector<std::string>{});
}

TEST(PipeChannelWire, ServerSendBeforeTheClientComesFollowsTheHello) {
  LogCapture capture{LogClock::kDriven};
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
  ASSERT_TRUE(pair.client.recorder.WaitFor([](const std::vector<PipeEvent>& e) {
    return !e.empty() && e.back().event == EVENT_MESSAGE;
  }));
  const std::vector<PipeEvent> messages = pair.client.recorder.Of(EVENT_MESSAGE);
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
  const std::vector<PipeEvent> messages = pair.client.recorder.Of(EVENT_MESSAGE);
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
  const std::vector<PipeEvent> messages = pair.client.recorder.Of(EVENT_MESSAGE);
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
  LogCapture capture{LogClock::kDriven};
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
  LogCapture capture{LogClock::kDriven};
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
  test_support::WaitUntil([&] { return tries() >= 2; });
  ASSERT_GE(tries(), 2);
  EXPECT_EQ(opened, -1) << "still trying while the instance is in use";

  // The first client goes away; the server offers its instance again.
  first.Close();
  ASSERT_TRUE(server.Disconnect());
  ASSERT_TRUE(server.Accept(std::chrono::milliseconds(40000)));
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
  test_support::WaitUntil([&] { return pair.client.channel->QueuedMessages() == 0; });
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
  LogCapture capture{LogClock::kDriven};
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(UniqueName().c_str(), PipeChannel::kModeServer));
  server.StartConnect();
  test_support::WaitUntil([&] { return HasLine(capture, "ConnectNamedPipe(IO_PENDING)"); });
  ASSERT_TRUE(HasLine(capture, "ConnectNamedPipe(IO_PENDING)"));
  server.channel->Close();
  server.JoinConnect();
  EXPECT_EQ(server.connect_result, 0);
  EXPECT_EQ(server.recorder.Kinds(), std::vector<uint32_t>{EVENT_DISCONNECTED});
}

TEST(PipeChannelLifecycle, NameLongerThan129CharactersIsRefused) {
  LogCapture capture{LogClock::kDriven};
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
  LogCapture capture{LogClock::kDriven};
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
  LogCapture capture{LogClock::kDriven};
  const std::wstring name = UniqueName();
  ChannelUnderTest server;
  ASSERT_TRUE(server.channel->Open(name.c_str(), PipeChannel::kModeServer));
  server.StartConnect();

  // No handle inheritance: the child must not hold our end of the pipe.
  test_support::ChildProcess child;
  ASSERT_TRUE(child.StartSelf(L"--echo-peer " + name));

  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_CONNECTED, 1));
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_MESSAGE, 1));
  const std::vector<PipeEvent> first = server.recorder.Of(EVENT_MESSAGE);
  EXPECT_EQ(first[0].type, 3u);
  EXPECT_EQ(first[0].data, std::to_string(child.Id()));

  constexpr int kCount = 30;
  for (int i = 0; i < kCount; ++i) {
    const std::string text = "message " + std::to_string(i) + std::string(i * 100, '.');
    ASSERT_TRUE(server.channel->Send(1, text.data(), static_cast<uint32_t>(text.size())));
  }
  ASSERT_TRUE(server.recorder.WaitForCount(EVENT_MESSAGE, 1 + kCount));
  const std::vector<PipeEvent> messages = server.recorder.Of(EVENT_MESSAGE);
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(messages[1 + i].type, 2u);
    EXPECT_EQ(messages[1 + i].data, "message " + std::to_string(i) + std::string(i * 100, '.'));
  }

  server.channel->Close();  // the child sees the break and ends
  EXPECT_EQ(child.Wait(), 0u);
  EXPECT_EQ(server.recorder.Count(EVENT_DISCONNECTED), 1u);
}

}  // namespace
}  // namespace Quenlo
