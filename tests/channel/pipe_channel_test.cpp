// The pipe channel over real named pipes. Most cases play the peer with raw
// Win32 pipe calls, which see exactly the bytes on the wire; one case runs a
// channel in a second process (this binary started again in a peer role).
#include "Quenlo/PipeChannel.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/Common/BrisqRefCount.h"
#include "Quenlo/message/IPCMessage.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/log_capture.h"
#include "tests/support/raw_pipe.h"
#include "tests/support/unique_name.h"

namespace Quenlo {
namespace {

using BrisqFramework::BrisqHandle;
using BrisqFramework::BrisqRef;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using BrisqFramework::MakeBrisqRef;
using Ravoque::IPCMessage;
using test_support::EventRecorder;
using test_support::IntMessage;
using test_support::Le32;
using test_support::UserMessage;
using test_support::WaitUntil;

using Delivered = std::vector<std::pair<uint32_t, std::string>>;
using Kinds = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

std::wstring UniqueName() { return test_support::UniqueName(L"channel"); }

std::string Hello() { return test_support::HelloMessage(777); }

// The channel under test (its events recorded, Connect on a thread of its
// own) and a raw peer, both on one fresh name, with the log captured.
class ChannelTest : public ::testing::Test {
 protected:
  ~ChannelTest() override {
    if (channel_) channel_->Close();  // ends a Connect that still waits
    if (connect_thread_.joinable()) connect_thread_.join();
  }

  BrisqRef<PipeChannel> NewChannel() {
    BrisqRef<PipeChannel> channel = MakeBrisqRef<PipeChannel>();
    channel->SetCallback(&EventRecorder::RawCallback, &recorder_);
    return channel;
  }
  void Open(uint32_t mode) { ASSERT_TRUE(channel_->Open(name_.c_str(), mode)); }
  void StartConnect() {
    PipeChannel* raw = channel_.Get();
    connect_thread_ = std::thread([this, raw] { connect_result_ = raw->Connect() ? 1 : 0; });
  }
  int JoinConnect() {
    if (connect_thread_.joinable()) connect_thread_.join();
    return connect_result_;
  }

  // The channel as client of the raw peer, connected: the peer has read the
  // channel's hello and sent its own.
  void ConnectAsClient() {
    ASSERT_TRUE(peer_.CreateServer(name_));
    Open(PipeChannel::kModeClient);
    ASSERT_TRUE(peer_.Accept());
    StartConnect();
    ASSERT_EQ(JoinConnect(), 1);
    ExpectHello();
    ASSERT_TRUE(peer_.Write(Hello()));
    ASSERT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED, 1));
  }

  // The next 20 bytes the peer reads are the channel's hello.
  void ExpectHello() {
    std::string hello;
    ASSERT_TRUE(peer_.Read(20, &hello));
    EXPECT_EQ(Le32(hello, 0), 4u);
    EXPECT_EQ(Le32(hello, 4), 0xFFFFFFFEu);  // routing -2
    EXPECT_EQ(Le32(hello, 8), 65535u);
    EXPECT_EQ(Le32(hello, 16), ::GetCurrentProcessId());
  }
  // The next message the peer reads holds exactly `blob`, as message `type`.
  void ExpectMessage(uint32_t type, const std::string& blob) {
    std::string message;
    ASSERT_TRUE(peer_.ReadMessage(&message));
    EXPECT_EQ(Le32(message, 4), 0xFFFFFFFEu);
    EXPECT_EQ(Le32(message, 8), type);
    EXPECT_EQ(Le32(message, 16), blob.size());  // the blob's length
    // The blob, zero-padded to a multiple of 4, and nothing more.
    EXPECT_EQ(message.substr(20), blob + std::string((4 - blob.size() % 4) % 4, '\0'));
  }
  // Waits for as many user messages as expected; they are exactly these.
  void ExpectDelivered(const Delivered& expected) {
    ASSERT_TRUE(recorder_.WaitForCount(EVENT_MESSAGE, expected.size()));
    Delivered got;
    for (const test_support::PipeEvent& e : recorder_.Of(EVENT_MESSAGE)) {
      got.emplace_back(e.type, e.data);
    }
    EXPECT_EQ(got, expected);
  }
  Lines ErrorLines() const {
    Lines out;
    for (const test_support::LogLine& line : capture_.Lines()) {
      if (line.severity >= kLogError) out.push_back(line.text);
    }
    return out;
  }

  test_support::LogCapture capture_{test_support::LogClock::kDriven};
  const std::wstring name_ = UniqueName();
  test_support::RawPipe peer_;
  EventRecorder recorder_;  // outlives the channels, which report to it when they go
  BrisqRef<PipeChannel> channel_ = NewChannel();
  std::thread connect_thread_;
  std::atomic<int> connect_result_{-1};
};

class PipeChannelWire : public ChannelTest {};
class PipeChannelConnecting : public ChannelTest {};
class PipeChannelLifecycle : public ChannelTest {};
class PipeChannelTwoProcesses : public ChannelTest {};

// --- Wire: what each side writes and what reaches the callback -----------------

TEST_F(PipeChannelWire, ClientHelloIsTheFirst20BytesEvenWhenSendCameFirst) {
  ASSERT_TRUE(peer_.CreateServer(name_));
  Open(PipeChannel::kModeClient);
  EXPECT_EQ(capture_.Count(kLogInfo, "hello message inserted"), 1);
  // Queued before the channel runs: must follow the hello, not precede it.
  ASSERT_TRUE(channel_->Send(42, "early", 5));
  ASSERT_TRUE(peer_.Accept());
  StartConnect();
  ExpectHello();
  ExpectMessage(42, "early");
}

TEST_F(PipeChannelWire, ServerHelloIsTheFirst20BytesAndThePeersHelloConnects) {
  Open(PipeChannel::kModeServer);
  StartConnect();
  ASSERT_TRUE(peer_.OpenClient(name_));
  ExpectHello();
  EXPECT_EQ(JoinConnect(), 1);

  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateOpening);
  ASSERT_TRUE(peer_.Write(Hello()));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED, 1));
  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateConnected);
  EXPECT_TRUE(recorder_.Of(EVENT_MESSAGE).empty()) << "the hello is not a user message";
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

TEST_F(PipeChannelWire, ServerEndRefusesRemoteClientsAndIsNotInherited) {
  PipeChannel::SetCreateNamedPipeForTesting(&RecordCreateNamedPipe);
  const bool opened = channel_->Open(name_.c_str(), PipeChannel::kModeServer);
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
TEST_F(PipeChannelWire, ClientThatCameBeforeTheAcceptGetsTheHelloAndIsRead) {
  Open(PipeChannel::kModeServer);
  ASSERT_TRUE(peer_.OpenClient(name_));
  StartConnect();
  EXPECT_EQ(JoinConnect(), 1);
  ExpectHello();
  ASSERT_TRUE(peer_.Write(Hello() + UserMessage(7, "after")));
  ExpectDelivered({{7, "after"}});
  EXPECT_EQ(recorder_.Count(EVENT_CONNECTED), 1u);
  EXPECT_EQ(ErrorLines(), Lines{});
}

TEST_F(PipeChannelWire, ServerSendBeforeTheClientComesFollowsTheHello) {
  Open(PipeChannel::kModeServer);
  ASSERT_TRUE(channel_->Send(42, "early", 5)) << "queued while waiting for the client";
  StartConnect();
  ASSERT_TRUE(peer_.OpenClient(name_));
  ExpectHello();
  ExpectMessage(42, "early");
  EXPECT_EQ(JoinConnect(), 1);
}

TEST_F(PipeChannelWire, InternalTypesFromThePeerAreNeverDelivered) {
  ConnectAsClient();
  ASSERT_TRUE(peer_.Write(IntMessage(IPCMessage::kTypeInternal, 5) +
                          UserMessage(IPCMessage::kTypeIgnored, "ignored") +
                          UserMessage(IPCMessage::kTypeInternal, "also internal")));
  ASSERT_TRUE(peer_.Write(UserMessage(9, "marker")));
  ExpectDelivered({{9, "marker"}});
  EXPECT_EQ(recorder_.Count(EVENT_BROKEN), 0u);
}

TEST_F(PipeChannelWire, MessageLargerThanThreeReadsArrivesOnceWhole) {
  ConnectAsClient();
  // 9000 bytes cannot come in fewer than three 4096-byte reads; the writes
  // split it at other places again.
  std::string text(9000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  const std::string wire = UserMessage(12, text);
  ASSERT_TRUE(peer_.Write(wire.substr(0, 10)));
  ASSERT_TRUE(peer_.Write(wire.substr(10, 5000)));
  ASSERT_TRUE(peer_.Write(wire.substr(5010)));
  ExpectDelivered({{12, text}});
  ASSERT_TRUE(peer_.Write(UserMessage(13, "after")));
  ExpectDelivered({{12, text}, {13, "after"}});
}

TEST_F(PipeChannelWire, TwoMessagesInOneWriteArriveInOrder) {
  ConnectAsClient();
  ASSERT_TRUE(peer_.Write(UserMessage(1, "one") + UserMessage(2, "two")));
  ExpectDelivered({{1, "one"}, {2, "two"}});
}

TEST_F(PipeChannelWire, HeaderAnnouncingMoreThan128MiBBreaksTheChannel) {
  ConnectAsClient();
  std::string header = UserMessage(5, "").substr(0, 16);  // routing -2, type 5
  Ravoque::StoreLE32(&header[0], 0x8000000u - 16u + 1u);  // one byte over, in total
  ASSERT_TRUE(peer_.Write(header));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_EQ(capture_.Count(kLogError, "Failed to CheckMessageSize"), 1);
  EXPECT_EQ(capture_.Count(kLogError, "Failed to OnIOCompleted(TranslateInput)"), 1);
  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateBroken);
  // The owner closes: one EVENT_DISCONNECTED, after the break.
  channel_->Close();
  EXPECT_EQ(recorder_.Kinds(), (Kinds{EVENT_CONNECTED, EVENT_BROKEN, EVENT_DISCONNECTED}));
}

TEST_F(PipeChannelWire, PeerClosingGivesBrokenWithoutErrorThenOneDisconnected) {
  ConnectAsClient();
  peer_.Close();
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateBroken);
  EXPECT_EQ(ErrorLines(), Lines{});
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 0u) << "the channel never closes itself";
  channel_.Reset();  // the last reference: deletion closes
  EXPECT_EQ(recorder_.Kinds(), (Kinds{EVENT_CONNECTED, EVENT_BROKEN, EVENT_DISCONNECTED}));
  EXPECT_EQ(capture_.Count(kLogInfo, "[PipeChannel] destructor"), 1);
}

TEST_F(PipeChannelWire, PeerClosedBeforeTheNextReadIsAlsoQuiet) {
  // Holds the reader thread inside the callback until the peer has closed,
  // so the channel's next read finds the pipe broken at once instead of
  // completing later: the same break, and told the same way.
  BrisqHandle peer_closed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  recorder_.on_event = [&](uint32_t event, uint32_t, const char*, uint32_t) {
    if (event == EVENT_MESSAGE) ::WaitForSingleObject(peer_closed.Get(), 10000);
  };
  ConnectAsClient();
  ASSERT_TRUE(peer_.Write(UserMessage(6, "last words")));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_MESSAGE, 1));
  peer_.Close();
  ::SetEvent(peer_closed.Get());
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_BROKEN, 1));
  EXPECT_EQ(ErrorLines(), Lines{});
  channel_.Reset();
  recorder_.on_event = nullptr;
}

// --- Connecting ---------------------------------------------------------------

// The 30 s deadline itself is checked by value; the loop runs on a shortened
// one so the test does not wait 30 s.
TEST_F(PipeChannelConnecting, NoServer_TimesOutAfter30s) {
  EXPECT_EQ(PipeChannel::kConnectDeadlineMs, 30000u);
  channel_->SetConnectDeadlineForTesting(600);
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_FALSE(channel_->Open(name_.c_str(), PipeChannel::kModeClient));
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  EXPECT_GE(elapsed, 600u);
  EXPECT_LT(elapsed, 10000u);
  EXPECT_EQ(capture_.Count(kLogError, "ipc connect timeout"), 1);
  EXPECT_EQ(recorder_.Kinds(), Kinds{EVENT_DISCONNECTED});
  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateClosed);
}

TEST_F(PipeChannelConnecting, SecondClientRetriesWhileTheOnlyInstanceIsBusy) {
  ASSERT_TRUE(peer_.CreateServer(name_));
  test_support::RawPipe first;
  ASSERT_TRUE(first.OpenClient(name_));
  ASSERT_TRUE(peer_.Accept());

  std::atomic<int> opened{-1};
  std::thread opener(
      [&] { opened = channel_->Open(name_.c_str(), PipeChannel::kModeClient) ? 1 : 0; });
  // A second round of the loop means the first one found the pipe busy.
  auto tries = [&] {
    int n = 0;
    for (const std::string& text : capture_.MessageTexts()) {
      n += text.rfind("Try to connect server[", 0) == 0;
    }
    return n;
  };
  WaitUntil([&] { return tries() >= 2; });
  ASSERT_GE(tries(), 2);
  EXPECT_EQ(opened, -1) << "still trying while the instance is in use";

  // The first client goes away; the server offers its instance again.
  first.Close();
  ASSERT_TRUE(peer_.Disconnect());
  ASSERT_TRUE(peer_.Accept(std::chrono::milliseconds(40000)));
  opener.join();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(capture_.Count(kLogError, "ipc connect timeout"), 0);
  StartConnect();
  ExpectHello();
}

TEST_F(PipeChannelConnecting, SendWhileAWriteIsPendingQueuesAndKeepsOrder) {
  ConnectAsClient();
  // The peer does not read: the pipe's buffer fills and writes stay pending.
  auto text = [](int i) {
    return std::to_string(i) + std::string(1000, static_cast<char>('A' + i % 26));
  };
  size_t most_queued = 0;
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(channel_->Send(100 + i, text(i).data(), static_cast<uint32_t>(text(i).size())));
    most_queued = std::max(most_queued, channel_->QueuedMessages());
  }
  EXPECT_GT(most_queued, 1u) << "later messages wait behind the pending write";
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NO_FATAL_FAILURE(ExpectMessage(100 + i, text(i)));
  }
  // Each completed write takes its message off the queue.
  WaitUntil([&] { return channel_->QueuedMessages() == 0; });
  EXPECT_EQ(channel_->QueuedMessages(), 0u);
}

// --- Opening and closing ----------------------------------------------------------

TEST_F(PipeChannelLifecycle, CloseTwiceGivesOneDisconnected) {
  ConnectAsClient();
  channel_->Close();
  channel_->Close();
  EXPECT_EQ(channel_->GetState(), PipeChannel::kStateClosed);
  channel_.Reset();
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 1u);
  EXPECT_EQ(capture_.Count(kLogInfo, "[PipeChannel] Close"), 3)
      << "each Close, and the deletion's, logs its line";
  EXPECT_EQ(ErrorLines(), Lines{}) << "closing is not a failure";
}

TEST_F(PipeChannelLifecycle, CloseWithAWriteStuckInAFullPipeReturns) {
  ConnectAsClient();
  // Nobody reads: the write in flight can only end by being cancelled, and
  // Close must wait for that before the channel's records can go away.
  const std::string text(3000, 'z');
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(channel_->Send(1, text.data(), static_cast<uint32_t>(text.size())));
  }
  ASSERT_GT(channel_->QueuedMessages(), 1u);
  channel_.Reset();
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 1u);
}

TEST_F(PipeChannelLifecycle, ConcurrentClosesReportOneDisconnected) {
  ConnectAsClient();
  std::vector<std::thread> closers;
  for (int i = 0; i < 4; ++i) closers.emplace_back([&] { channel_->Close(); });
  for (std::thread& t : closers) t.join();
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 1u);
}

TEST_F(PipeChannelLifecycle, SendAfterCloseIsRefused) {
  ConnectAsClient();
  channel_->Close();
  EXPECT_FALSE(channel_->Send(1, "x", 1));
  EXPECT_EQ(capture_.Count(BrisqFramework::kLogWarning, "Can't send msg(Pipe is empty)"), 1);
  EXPECT_FALSE(channel_->Connect());
  EXPECT_EQ(capture_.Count(kLogError, "Can't connect(Pipe is empty)"), 1);
}

TEST_F(PipeChannelLifecycle, CloseEndsAConnectThatWaitsForItsClient) {
  Open(PipeChannel::kModeServer);
  StartConnect();
  auto pending = [&] { return capture_.Count(kLogInfo, "ConnectNamedPipe(IO_PENDING)") == 1; };
  WaitUntil(pending);
  ASSERT_TRUE(pending());
  channel_->Close();
  EXPECT_EQ(JoinConnect(), 0);
  EXPECT_EQ(recorder_.Kinds(), Kinds{EVENT_DISCONNECTED});
}

TEST_F(PipeChannelLifecycle, NameLongerThan129CharactersIsRefused) {
  const std::wstring fits = name_ + std::wstring(PipeChannel::kMaxNameLength - name_.size(), L'n');
  EXPECT_FALSE(channel_->Open((fits + L"x").c_str(), PipeChannel::kModeServer));
  EXPECT_EQ(capture_.Count(kLogError, "Failed to Open(pipe name too long)"), 1);
  EXPECT_EQ(recorder_.Kinds(), Kinds{EVENT_DISCONNECTED});
  // Nothing was created under the name cut to the field's size.
  EXPECT_FALSE(peer_.OpenClient(fits));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // 129 characters are fine, and the pipe carries the whole name.
  BrisqRef<PipeChannel> server = NewChannel();
  ASSERT_TRUE(server->Open(fits.c_str(), PipeChannel::kModeServer));
  EXPECT_TRUE(peer_.OpenClient(fits));
}

TEST_F(PipeChannelLifecycle, SecondOpenOfAnOpenChannelIsRefusedAndKeepsIt) {
  Open(PipeChannel::kModeServer);
  EXPECT_FALSE(channel_->Open(UniqueName().c_str(), PipeChannel::kModeServer));
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 0u);
  EXPECT_TRUE(peer_.OpenClient(name_));
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

TEST_F(PipeChannelTwoProcesses, ServerAndChildClientExchangeMessagesInOrder) {
  Open(PipeChannel::kModeServer);
  StartConnect();
  // No handle inheritance: the child must not hold our end of the pipe.
  test_support::ChildProcess child;
  ASSERT_TRUE(child.StartSelf(L"--echo-peer " + name_));
  ASSERT_TRUE(recorder_.WaitForCount(EVENT_CONNECTED, 1));
  Delivered expected = {{3, std::to_string(child.Id())}};
  ExpectDelivered(expected);

  for (int i = 0; i < 30; ++i) {
    const std::string text = "message " + std::to_string(i) + std::string(i * 100, '.');
    ASSERT_TRUE(channel_->Send(1, text.data(), static_cast<uint32_t>(text.size())));
    expected.emplace_back(2, text);
  }
  ExpectDelivered(expected);

  channel_->Close();  // the child sees the break and ends
  EXPECT_EQ(child.Wait(), 0u);
  EXPECT_EQ(recorder_.Count(EVENT_DISCONNECTED), 1u);
}

}  // namespace
}  // namespace Quenlo
