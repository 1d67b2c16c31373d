#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/StringPrintf.h"
#include "BrisqFramework/IO/BrisqMessagePumpIO.h"
#include "tests/support/log_capture.h"
#include "tests/support/unique_name.h"

namespace {

using BrisqFramework::BrisqEvent;
using BrisqFramework::kLogError;
using BrisqFramework::kLogInfo;
using BrisqFramework::kLogWarning;
using BrisqFramework::StringPrintf;
using BrisqFramework::IO::BrisqMessagePumpIO;
using test_support::LogCapture;

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

struct Completion {
  OVERLAPPED* overlapped;
  DWORD bytes;
  DWORD error;
  DWORD thread;
  std::wstring threadName;
};

// Records every completion and signals each one.
class RecordingObserver : public BrisqMessagePumpIO::Observer {
 public:
  RecordingObserver() { arrived_.CreateEvent(nullptr); }

  void OnCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      completions_.push_back(
          {overlapped, bytes, error, ::GetCurrentThreadId(), CurrentThreadDescription()});
    }
    arrived_.SetEvent();
  }

  // Waits until at least `n` completions arrived.
  bool AwaitCount(std::size_t n) {
    for (;;) {
      if (Count() >= n) return true;
      if (!arrived_.Wait(kWaitMs)) return Count() >= n;
    }
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return completions_.size();
  }
  Completion At(std::size_t i) {
    std::lock_guard<std::mutex> guard(mutex_);
    return completions_.at(i);
  }

 private:
  std::mutex mutex_;
  std::vector<Completion> completions_;  // guarded by mutex_
  BrisqEvent arrived_;
};

// A connected pair of pipe ends: the server end overlapped (as the library
// uses it), the client end synchronous.
class PipePair {
 public:
  PipePair() {
    const std::wstring name = L"\\\\.\\pipe\\" + test_support::UniqueName(L"io");
    server_ = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                 nullptr);
    client_ = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  }
  ~PipePair() {
    CloseClient();
    if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
  }
  PipePair(const PipePair&) = delete;
  PipePair& operator=(const PipePair&) = delete;

  bool Ok() const { return server_ != INVALID_HANDLE_VALUE && client_ != INVALID_HANDLE_VALUE; }
  HANDLE Server() const { return server_; }
  HANDLE Client() const { return client_; }
  void CloseClient() {
    if (client_ != INVALID_HANDLE_VALUE) ::CloseHandle(client_);
    client_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE server_ = INVALID_HANDLE_VALUE;
  HANDLE client_ = INVALID_HANDLE_VALUE;
};

// Issues an overlapped read of up to `size` bytes on `handle`.
bool StartRead(HANDLE handle, OVERLAPPED* overlapped, char* buffer, DWORD size) {
  *overlapped = OVERLAPPED{};
  if (::ReadFile(handle, buffer, size, nullptr, overlapped)) return true;
  return ::GetLastError() == ERROR_IO_PENDING;
}

// A pump with a recording observer and a pipe pair, all under a log capture.
// Open() opens the pump; OpenWithPipe() also registers the pipe's server end.
class PumpTest : public ::testing::Test {
 protected:
  void Open() { ASSERT_TRUE(pump.Open()); }
  void OpenWithPipe() {
    ASSERT_TRUE(pipe.Ok());
    Open();
    ASSERT_TRUE(pump.Register(pipe.Server(), &observer));
  }
  ULONG_PTR Key() { return reinterpret_cast<ULONG_PTR>(&observer); }

  LogCapture capture;
  PipePair pipe;
  RecordingObserver observer;  // outlives the pump's thread
  BrisqMessagePumpIO pump;
};
class BrisqMessagePumpIODispatch : public PumpTest {};
class BrisqMessagePumpIOBrokenPipe : public PumpTest {};

// --- Dispatch: each kind of packet reaches its observer as stated ---

TEST_F(BrisqMessagePumpIODispatch, PostedTaskArrivesAsZeroBytesAfterTheWarning) {
  Open();
  OVERLAPPED overlapped{};
  ASSERT_TRUE(pump.PostTask(&overlapped, &observer));
  ASSERT_TRUE(observer.AwaitCount(1));
  const Completion c = observer.At(0);
  EXPECT_EQ(c.overlapped, &overlapped);
  EXPECT_EQ(c.bytes, 0u);
  EXPECT_EQ(c.error, 0u);
  EXPECT_EQ(c.thread, pump.ThreadId());
  pump.Close();

  const std::string posted =
      StringPrintf("PostTask [%x] [%x]", Low32(&overlapped), Low32(&observer));
  EXPECT_EQ(capture.Count(kLogInfo, posted), 1);
  EXPECT_EQ(capture.Count(kLogWarning, "[BrisqMessagePumpIO] Data transferred is empty"), 1);
}

TEST_F(BrisqMessagePumpIODispatch, RealReadCompletionReachesItsObserver) {
  OpenWithPipe();
  EXPECT_EQ(observer.ObservedHandle(), pipe.Server());

  OVERLAPPED read{};
  char buffer[64] = {};
  ASSERT_TRUE(StartRead(pipe.Server(), &read, buffer, sizeof(buffer)));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(pipe.Client(), "hello", 5, &written, nullptr));
  ASSERT_TRUE(observer.AwaitCount(1));
  const Completion c = observer.At(0);
  EXPECT_EQ(c.overlapped, &read);
  EXPECT_EQ(c.bytes, 5u);
  EXPECT_EQ(c.error, 0u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  pump.Close();
}

TEST_F(BrisqMessagePumpIODispatch, ByteCountDisagreeingWithTheOverlappedResultIsLogged) {
  OpenWithPipe();
  OVERLAPPED done{};
  done.Internal = 0;      // STATUS_SUCCESS
  done.InternalHigh = 3;  // what the overlapped result reports
  ASSERT_TRUE(::PostQueuedCompletionStatus(pump.Port(), 7, Key(), &done));
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).bytes, 7u) << "the packet's count is passed on";
  EXPECT_EQ(observer.At(0).error, 0u);
  pump.Close();
  EXPECT_EQ(capture.Count(kLogError, "GetQueuedCompletionStatus[7] fileOverLappedResult [3]"), 1);
}

TEST_F(BrisqMessagePumpIODispatch, FailedOverlappedResultPassesItsErrorOn) {
  OpenWithPipe();
  const ULONG_PTR key = Key();
  OVERLAPPED denied{};
  denied.Internal = static_cast<ULONG_PTR>(0xC0000022L);  // STATUS_ACCESS_DENIED -> 5
  OVERLAPPED broken{};
  broken.Internal = static_cast<ULONG_PTR>(0xC000014BL);  // STATUS_PIPE_BROKEN -> 109
  ASSERT_TRUE(::PostQueuedCompletionStatus(pump.Port(), 4, key, &denied));
  ASSERT_TRUE(::PostQueuedCompletionStatus(pump.Port(), 4, key, &broken));
  OVERLAPPED after{};
  ASSERT_TRUE(pump.PostTask(&after, &observer));
  ASSERT_TRUE(observer.AwaitCount(3)) << "an overlapped-result error must not end the pump";
  EXPECT_EQ(observer.At(0).error, 5u);
  EXPECT_EQ(observer.At(0).bytes, 4u);
  EXPECT_EQ(observer.At(1).error, 109u);
  EXPECT_EQ(observer.At(2).overlapped, &after);
  pump.Close();

  const unsigned handle = Low32(pipe.Server());
  EXPECT_EQ(
      capture.Count(kLogWarning, StringPrintf("[BrisqMessagePumpIO] GetOverlappedResult %x (%d,%s)",
                                              handle, 5, BrisqFramework::BrisqErrorText(5))),
      1);
  EXPECT_EQ(capture.Count(
                kLogWarning,
                StringPrintf("[BrisqMessagePumpIO] The pipe has been ended %x [%p] [%p]", handle,
                             static_cast<void*>(&broken), static_cast<void*>(&observer))),
            1);
  EXPECT_EQ(capture.Count(kLogError, "GetQueuedCompletionStatus[4] fileOverLappedResult [0]"), 2);
}

TEST_F(BrisqMessagePumpIODispatch, PacketsWithoutObserverOrContextAreIgnored) {
  Open();
  OVERLAPPED orphan{};
  OVERLAPPED real{};
  ASSERT_TRUE(pump.PostTask(&orphan, nullptr));
  ASSERT_TRUE(::PostQueuedCompletionStatus(pump.Port(), 0, Key(), nullptr));
  ASSERT_TRUE(pump.PostTask(&real, &observer));
  ASSERT_TRUE(observer.AwaitCount(1));
  pump.Close();
  ASSERT_EQ(observer.Count(), 1u);
  EXPECT_EQ(observer.At(0).overlapped, &real);
}

TEST_F(BrisqMessagePumpIODispatch, PostTaskAndRegisterRefuseWhatCannotWork) {
  OVERLAPPED overlapped{};
  EXPECT_FALSE(pump.PostTask(&overlapped, &observer)) << "not open";
  EXPECT_FALSE(pump.Register(::GetCurrentProcess(), &observer)) << "not open";
  ASSERT_TRUE(pump.Open());
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
  ASSERT_TRUE(StartRead(pipe.Server(), &read, buffer, sizeof(buffer)));
  pipe.CloseClient();
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).overlapped, &read);
  EXPECT_EQ(observer.At(0).error, 109u);

  HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, pump.ThreadId());
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(::WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0) << "the pump thread must end";
  ::CloseHandle(thread);

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
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, failing.ThreadId());
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(::WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0) << "the pump thread must end";
    ::CloseHandle(thread);
    EXPECT_EQ(g_dequeue_calls, 1);
    EXPECT_EQ(capture.Count(kLogError, StringPrintf("GetQueuedCompletionStatus unknown error [%u]",
                                                    static_cast<unsigned>(error))),
              1);
    failing.Close();
  }
}

// --- Lifecycle: open, close, re-open, destruction; the pump thread's name ---

TEST(BrisqMessagePumpIOLifecycle, OpenAndCloseLogTheirSteps) {
  LogCapture capture;
  std::string port;
  DWORD thread = 0;
  {
    BrisqMessagePumpIO pump;
    ASSERT_TRUE(pump.Open());
    port = Streamed(pump.Port());
    RecordingObserver observer;
    OVERLAPPED overlapped{};
    ASSERT_TRUE(pump.PostTask(&overlapped, &observer));
    ASSERT_TRUE(observer.AwaitCount(1));  // the thread is up
    thread = pump.ThreadId();
    pump.Close();
    EXPECT_EQ(pump.Port(), nullptr);
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

TEST(BrisqMessagePumpIOLifecycle, PumpThreadIsNamedIpcReader) {
  LogCapture capture;
  BrisqMessagePumpIO pump;
  ASSERT_TRUE(pump.Open());
  RecordingObserver observer;
  OVERLAPPED overlapped{};
  ASSERT_TRUE(pump.PostTask(&overlapped, &observer));
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_EQ(observer.At(0).threadName, L"IPC Reader");
  const std::string named = "SetThreadName: " + std::to_string(pump.ThreadId()) + ", IPC Reader";
  const std::string begin = "Begin IOCP MessagePumpIO:[" + Streamed(pump.Port()) + "]";
  pump.Close();
  EXPECT_EQ(capture.Count(kLogInfo, named), 1);
  EXPECT_LT(capture.IndexOf(kLogInfo, named), capture.IndexOf(kLogInfo, begin))
      << "the thread is named before it starts dispatching";
}

TEST(BrisqMessagePumpIOLifecycle, ReopenedPumpDispatchesAgain) {
  BrisqMessagePumpIO pump;
  RecordingObserver observer;
  OVERLAPPED first{};
  OVERLAPPED second{};
  ASSERT_TRUE(pump.Open());
  ASSERT_TRUE(pump.PostTask(&first, &observer));
  ASSERT_TRUE(observer.AwaitCount(1));
  pump.Close();
  ASSERT_TRUE(pump.Open());
  ASSERT_TRUE(pump.PostTask(&second, &observer));
  ASSERT_TRUE(observer.AwaitCount(2));
  EXPECT_EQ(observer.At(1).overlapped, &second);
  pump.Close();
}

TEST(BrisqMessagePumpIOLifecycle, OpenWhileRunningStopsThePreviousThreadFirst) {
  LogCapture capture;
  BrisqMessagePumpIO pump;
  ASSERT_TRUE(pump.Open());
  const DWORD firstThread = pump.ThreadId();
  HANDLE first = ::OpenThread(SYNCHRONIZE, FALSE, firstThread);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(pump.Open());
  EXPECT_EQ(::WaitForSingleObject(first, 0), WAIT_OBJECT_0) << "the old thread was joined";
  ::CloseHandle(first);
  RecordingObserver observer;
  OVERLAPPED overlapped{};
  ASSERT_TRUE(pump.PostTask(&overlapped, &observer));
  ASSERT_TRUE(observer.AwaitCount(1));
  EXPECT_NE(observer.At(0).thread, firstThread);
  pump.Close();
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] IOCP_SHUTDOWN"), 2);
}

TEST(BrisqMessagePumpIOLifecycle, CloseWithoutOpenAndDestructionWithoutCloseReturn) {
  {
    BrisqMessagePumpIO pump;
    pump.Close();
  }
  LogCapture capture;
  {
    BrisqMessagePumpIO pump;
    ASSERT_TRUE(pump.Open());
  }  // the destructor stops the thread before the object goes
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] destructor(Instance)"), 1);
  EXPECT_EQ(capture.Count(kLogInfo, "[BrisqMessagePumpIO] IOCP_SHUTDOWN"), 1);
}

}  // namespace
