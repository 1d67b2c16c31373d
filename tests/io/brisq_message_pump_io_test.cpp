#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/Common/StringPrintf.h"
#include "BrisqFramework/IO/BrisqMessagePumpIO.h"
#include "tests/support/log_capture.h"
#include "tests/support/raw_pipe.h"
#include "tests/support/unique_name.h"
#include "tests/support/wait_until.h"

namespace {

using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using BrisqFramework::kLogWarning;
using BrisqFramework::StringPrintf;
using BrisqFramework::IO::BrisqMessagePumpIO;

constexpr DWORD kWaitMs = 5000;

std::string Streamed(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

unsigned Low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

std::wstring CurrentThreadDescription() {
  using Fn = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  auto get = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"Kernel32.dll"), "GetThreadDescription")));
  if (get == nullptr) return L"<no GetThreadDescription>";
  PWSTR text = nullptr;
  if (FAILED(get(::GetCurrentThread(), &text))) return L"<failed>";
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

// Whether the thread `id` ends within kWaitMs.
bool ThreadEnds(DWORD id) {
  BrisqFramework::BrisqHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
  return thread && ::WaitForSingleObject(thread.Get(), kWaitMs) == WAIT_OBJECT_0;
}

using Result = std::tuple<OVERLAPPED*, DWORD, DWORD>;  // overlapped, bytes, error

struct Completion {
  OVERLAPPED* overlapped;
  DWORD bytes;
  DWORD error;
  DWORD thread;
  std::wstring threadName;
  Result result() const { return Result(overlapped, bytes, error); }
};

class RecordingObserver : public BrisqMessagePumpIO::Observer {
 public:
  void OnCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) override {
    std::lock_guard<std::mutex> guard(mutex_);
    completions_.push_back(
        {overlapped, bytes, error, ::GetCurrentThreadId(), CurrentThreadDescription()});
  }
  // Waits until at least `n` completions arrived.
  bool AwaitCount(std::size_t n) {
    return test_support::WaitUntil([&] { return Count() >= n; }, std::chrono::milliseconds(kWaitMs),
                                   std::chrono::milliseconds(1));
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return completions_.size();
  }
  Completion At(std::size_t i) {
    std::lock_guard<std::mutex> guard(mutex_);
    return completions_.at(i);  // throws, failing the test, when it never came
  }

 private:
  std::mutex mutex_;
  std::vector<Completion> completions_;  // guarded by mutex_
};

// A pump with a recording observer, all under a log capture. OpenWithPipe()
// also connects a pipe and registers its server end, overlapped as the
// library uses it; the client end plays the peer.
class PumpTest : public ::testing::Test {
 protected:
  void Open() { ASSERT_TRUE(pump.Open()); }
  void OpenWithPipe() {
    const std::wstring name = test_support::UniqueName(L"io");
    server.Reset(::CreateNamedPipeW(
        test_support::IpcPipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server.IsValid());
    ASSERT_TRUE(client.OpenClient(name));
    Open();
    ASSERT_TRUE(pump.Register(server.Get(), &observer));
  }
  // Posts `overlapped` for the observer and returns its completion, the n-th.
  Completion Dispatched(OVERLAPPED* overlapped, std::size_t n = 1) {
    EXPECT_TRUE(pump.PostTask(overlapped, &observer));
    EXPECT_TRUE(observer.AwaitCount(n));
    return observer.At(n - 1);
  }
  // Queues a packet as the port does for the registered handle.
  bool Packet(DWORD bytes, OVERLAPPED* overlapped) {
    return ::PostQueuedCompletionStatus(pump.Port(), bytes, reinterpret_cast<ULONG_PTR>(&observer),
                                        overlapped);
  }
  // An overlapped read of up to `size` bytes on the server end.
  bool StartRead(OVERLAPPED* overlapped, char* buffer, DWORD size) {
    return ::ReadFile(server.Get(), buffer, size, nullptr, overlapped) ||
           ::GetLastError() == ERROR_IO_PENDING;
  }

  test_support::LogCapture capture;
  BrisqFramework::BrisqFileHandle server;
  test_support::RawPipe client;
  RecordingObserver observer;  // outlives the pump's thread
  BrisqMessagePumpIO pump;
};
class BrisqMessagePumpIODispatch : public PumpTest {};
class BrisqMessagePumpIOBrokenPipe : public PumpTest {};
class BrisqMessagePumpIOLifecycle : public PumpTest {};

// --- Dispatch: each kind of packet reaches its observer as stated ---

TEST_F(BrisqMessagePumpIODispatch, PostedTaskArrivesAsZeroBytesAfterTheWarning) {
  Open();
  OVERLAPPED overlapped{};
  const Completion c = Dispatched(&overlapped);
  EXPECT_EQ(c.result(), Result(&overlapped, 0, 0));
  EXPECT_EQ(c.thread, pump.ThreadId());
  pump.Close();
  EXPECT_EQ(capture.Count(kLogInfo,
                          StringPrintf("PostTask [%x] [%x]", Low32(&overlapped), Low32(&observer))),
            1);
  EXPECT_EQ(capture.Count(kLogWarning, "[BrisqMessagePumpIO] Data transferred is empty"), 1);
}

TEST_F(BrisqMessagePumpIODispatch, RealReadCompletionReachesItsObserver) {
  OpenWithPipe();
  EXPECT_EQ(observer.ObservedHandle(), server.Get());
  OVERLAPPED read{};
  char buffer[64] = {};
  ASSERT_TRUE(StartRead(&read, buffer, sizeof(buffer)));
  ASSERT_TRUE(client.Write("hello"));
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).result(), Result(&read, 5, 0));
  EXPECT_EQ(std::string(buffer, 5), "hello");
  pump.Close();
}

TEST_F(BrisqMessagePumpIODispatch, ByteCountDisagreeingWithTheOverlappedResultIsLogged) {
  OpenWithPipe();
  OVERLAPPED done{};
  done.Internal = 0;      // STATUS_SUCCESS
  done.InternalHigh = 3;  // what the overlapped result reports
  ASSERT_TRUE(Packet(7, &done));
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).result(), Result(&done, 7, 0)) << "the packet's count is passed on";
  pump.Close();
  EXPECT_EQ(capture.Since(0, kLogError),
            std::vector<std::string>{"GetQueuedCompletionStatus[7] fileOverLappedResult [3]"});
}

TEST_F(BrisqMessagePumpIODispatch, FailedOverlappedResultPassesItsErrorOn) {
  OpenWithPipe();
  OVERLAPPED denied{};
  denied.Internal = static_cast<ULONG_PTR>(0xC0000022L);  // STATUS_ACCESS_DENIED -> 5
  OVERLAPPED broken{};
  broken.Internal = static_cast<ULONG_PTR>(0xC000014BL);  // STATUS_PIPE_BROKEN -> 109
  ASSERT_TRUE(Packet(4, &denied));
  ASSERT_TRUE(Packet(4, &broken));
  OVERLAPPED after{};
  EXPECT_EQ(Dispatched(&after, 3).overlapped, &after)
      << "an overlapped-result error must not end the pump";
  EXPECT_EQ(observer.At(0).result(), Result(&denied, 4, 5));
  EXPECT_EQ(observer.At(1).result(), Result(&broken, 4, 109));
  pump.Close();

  const unsigned handle = Low32(server.Get());
  EXPECT_EQ(capture.Since(0, kLogWarning),
            (std::vector<std::string>{
                StringPrintf("[BrisqMessagePumpIO] GetOverlappedResult %x (%d,%s)", handle, 5,
                             BrisqFramework::BrisqErrorText(5)),
                StringPrintf("[BrisqMessagePumpIO] The pipe has been ended %x [%p] [%p]", handle,
                             static_cast<void*>(&broken), static_cast<void*>(&observer)),
                "[BrisqMessagePumpIO] Data transferred is empty"}));
  EXPECT_EQ(capture.Since(0, kLogError),
            std::vector<std::string>(2, "GetQueuedCompletionStatus[4] fileOverLappedResult [0]"));
}

TEST_F(BrisqMessagePumpIODispatch, PacketsWithoutObserverOrContextAreIgnored) {
  Open();
  OVERLAPPED orphan{};
  OVERLAPPED real{};
  ASSERT_TRUE(pump.PostTask(&orphan, nullptr));
  ASSERT_TRUE(Packet(0, nullptr));
  EXPECT_EQ(Dispatched(&real).overlapped, &real);
  pump.Close();
  EXPECT_EQ(observer.Count(), 1u);
}

TEST_F(BrisqMessagePumpIODispatch, PostTaskAndRegisterRefuseWhatCannotWork) {
  OVERLAPPED overlapped{};
  EXPECT_FALSE(pump.PostTask(&overlapped, &observer)) << "not open";
  EXPECT_FALSE(pump.Register(::GetCurrentProcess(), &observer)) << "not open";
  Open();
  EXPECT_FALSE(pump.PostTask(nullptr, &observer));
  EXPECT_FALSE(pump.Register(::GetCurrentProcess(), nullptr));
  pump.Close();
  EXPECT_FALSE(pump.PostTask(&overlapped, &observer)) << "closed";
}

// --- Broken pipe: error 109 from the dequeue ends the pump thread ---

TEST_F(BrisqMessagePumpIOBrokenPipe, PeerCloseReachesTheObserverAndEndsThePump) {
  OpenWithPipe();
  OVERLAPPED read{};
  char buffer[16];
  ASSERT_TRUE(StartRead(&read, buffer, sizeof(buffer)));
  client.Close();
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).result(), Result(&read, 0, 109));
  EXPECT_TRUE(ThreadEnds(pump.ThreadId())) << "the pump thread must end";

  OVERLAPPED late{};
  EXPECT_TRUE(pump.PostTask(&late, &observer)) << "the port is still open";
  pump.Close();  // posts, joins an ended thread, returns
  EXPECT_EQ(observer.Count(), 1u) << "nothing is dispatched after the pump ended";
  EXPECT_EQ(capture.Count(kLogWarning, "The pipe has been ended."), 1);
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] IOCP_SHUTDOWN"), 0);
  EXPECT_GE(capture.IndexOf(kLogInfo, "BrisqMessagePumpIO::Close [end]"), 0);
}

// A dequeue that fails the way a closed or abandoned port does: no packet,
// the error from g_port_error. Counts its calls.
std::atomic<DWORD> g_port_error{0};
std::atomic<int> g_dequeue_calls{0};
BOOL WINAPI FailingDequeue(HANDLE, LPDWORD, PULONG_PTR, LPOVERLAPPED* overlapped, DWORD) {
  ++g_dequeue_calls;
  *overlapped = nullptr;
  ::Sleep(1);
  ::SetLastError(g_port_error);
  return FALSE;
}

TEST_F(BrisqMessagePumpIOBrokenPipe, PortGoneErrorsEndThePumpInsteadOfSpinning) {
  // ERROR_INVALID_HANDLE and ERROR_ABANDONED_WAIT_0, by value; a pump of
  // its own for each.
  for (DWORD error : {6u, 735u}) {
    SCOPED_TRACE(error);
    capture.Clear();
    g_port_error = error;
    g_dequeue_calls = 0;
    BrisqMessagePumpIO failing;
    failing.SetDequeueForTesting(&FailingDequeue);
    ASSERT_TRUE(failing.Open());
    EXPECT_TRUE(ThreadEnds(failing.ThreadId())) << "the pump thread must end";
    EXPECT_EQ(g_dequeue_calls, 1);
    EXPECT_EQ(capture.Count(kLogError, StringPrintf("GetQueuedCompletionStatus unknown error [%u]",
                                                    static_cast<unsigned>(error))),
              1);
    failing.Close();
  }
}

// --- Lifecycle: open, close, re-open, destruction; the pump thread's name ---

TEST_F(BrisqMessagePumpIOLifecycle, OpenAndCloseLogTheirSteps) {
  capture.Clear();  // only the local pump's lines
  std::string port;
  DWORD thread = 0;
  {
    BrisqMessagePumpIO local;  // its destructor's line is checked too
    ASSERT_TRUE(local.Open());
    port = Streamed(local.Port());
    OVERLAPPED overlapped{};
    ASSERT_TRUE(local.PostTask(&overlapped, &observer));
    ASSERT_TRUE(observer.AwaitCount(1));  // the thread is up
    thread = local.ThreadId();
    local.Close();
    EXPECT_EQ(local.Port(), nullptr);
  }
  const std::string id = std::to_string(thread);
  // Two chains: the pump thread's lines interleave freely with the join's
  // begin line, which follows the posting of the shutdown packet.
  using Chain = std::vector<std::string>;
  const Chain lifecycle = {
      "[BrisqMessagePumpIO] constructor(Instance)",
      "Begin IOCP MessagePumpIO:[" + port + "]",
      "BrisqMessagePumpIO::Close [start]",
      "[BrisqMessagePumpIO] IOCP_SHUTDOWN",
      "End IOCP MessagePumpIO:[" + port + "]",
      "[BrisqThread] Close(end,...) " + id,
      "BrisqMessagePumpIO::Close [end]",
      "[BrisqMessagePumpIO] destructor(Instance)",
  };
  const Chain join = {
      "BrisqMessagePumpIO::Close [start]",
      "[BrisqThread] Close(begin,...) " + id,
      "[BrisqThread] Close(end,...) " + id,
  };
  for (const Chain& chain : {lifecycle, join}) {
    int previous = -1;
    for (const std::string& text : chain) {
      const int at = capture.IndexOf(kLogInfo, text);
      EXPECT_GT(at, previous) << text;
      EXPECT_EQ(capture.Count(kLogInfo, text), 1) << text;
      previous = at;
    }
  }
}

TEST_F(BrisqMessagePumpIOLifecycle, PumpThreadIsNamedIpcReader) {
  Open();
  OVERLAPPED overlapped{};
  EXPECT_EQ(Dispatched(&overlapped).threadName, L"IPC Reader");
  const std::string named = "SetThreadName: " + std::to_string(pump.ThreadId()) + ", IPC Reader";
  const std::string begin = "Begin IOCP MessagePumpIO:[" + Streamed(pump.Port()) + "]";
  pump.Close();
  EXPECT_EQ(capture.Count(kLogInfo, named), 1);
  EXPECT_LT(capture.IndexOf(kLogInfo, named), capture.IndexOf(kLogInfo, begin))
      << "the thread is named before it starts dispatching";
}

TEST_F(BrisqMessagePumpIOLifecycle, ReopenedPumpDispatchesAgain) {
  OVERLAPPED first{};
  OVERLAPPED second{};
  Open();
  Dispatched(&first);
  pump.Close();
  Open();
  EXPECT_EQ(Dispatched(&second, 2).overlapped, &second);
  pump.Close();
}

TEST_F(BrisqMessagePumpIOLifecycle, OpenWhileRunningStopsThePreviousThreadFirst) {
  Open();
  const DWORD firstThread = pump.ThreadId();
  BrisqFramework::BrisqHandle first(::OpenThread(SYNCHRONIZE, FALSE, firstThread));
  ASSERT_TRUE(first);
  Open();
  EXPECT_EQ(::WaitForSingleObject(first.Get(), 0), WAIT_OBJECT_0) << "the old thread was joined";
  OVERLAPPED overlapped{};
  EXPECT_NE(Dispatched(&overlapped).thread, firstThread);
  pump.Close();
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] IOCP_SHUTDOWN"), 2);
}

TEST_F(BrisqMessagePumpIOLifecycle, CloseWithoutOpenAndDestructionWithoutCloseReturn) {
  pump.Close();
  capture.Clear();
  {
    BrisqMessagePumpIO local;
    ASSERT_TRUE(local.Open());
  }  // the destructor stops the thread before the object goes
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] destructor(Instance)"), 1);
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] IOCP_SHUTDOWN"), 1);
}

}  // namespace
