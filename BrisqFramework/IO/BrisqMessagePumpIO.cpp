#include "BrisqFramework/IO/BrisqMessagePumpIO.h"

#include <cstdint>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "BrisqFramework/Common/StringPrintf.h"
#include "BrisqFramework/IO/SetThreadName.h"

namespace BrisqFramework {
namespace IO {
namespace {

// The observer contract passes this number on for a pipe the peer closed.
static_assert(ERROR_BROKEN_PIPE == 109, "observers are told 109 for an ended pipe");

constexpr DWORD kDequeueTimeoutMs = 4000;
constexpr const char* kThreadName = "IPC Reader";

// The overlapped pointer of the shutdown packet: all bits set, never a real
// record.
OVERLAPPED* ShutdownPacket() { return reinterpret_cast<OVERLAPPED*>(~static_cast<uintptr_t>(0)); }

// The low 32 bits of a pointer, for the "%x" fields of the log texts.
unsigned Low32(const void* pointer) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer));
}

// Hands one completion to its observer. An exception drops that completion
// and keeps the pump serving the others.
void Deliver(BrisqMessagePumpIO::Observer* observer, OVERLAPPED* overlapped, DWORD bytes,
             DWORD error) {
  try {
    observer->OnCompletion(overlapped, bytes, error);
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to BrisqMessagePumpIO::OnCompletion");
  }
}

}  // namespace

BrisqMessagePumpIO::BrisqMessagePumpIO() {
  BRISQ_LOG(INFO) << "[BrisqMessagePumpIO] constructor(Instance)";
}

BrisqMessagePumpIO::~BrisqMessagePumpIO() {
  StopThreadAndClosePort();
  BRISQ_LOG(INFO) << "[BrisqMessagePumpIO] destructor(Instance)";
}

void BrisqMessagePumpIO::StopThreadAndClosePort() {
  // A pump thread that was never joined still uses the port and this object:
  // it is stopped before either goes away.
  if (thread_.HasThread()) {
    if (port_.IsValid()) ::PostQueuedCompletionStatus(port_.Get(), 0, 0, ShutdownPacket());
    thread_.Close(INFINITE);
  }
  port_.Reset();
}

bool BrisqMessagePumpIO::Open() {
  StopThreadAndClosePort();
  HANDLE port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, concurrency_);
  if (port == nullptr) {
    BRISQ_LOG_AT(ERROR) << "Failed to CreateIoCompletionPort(" << BrisqLastErrorText() << ")";
    return false;
  }
  port_.Reset(port);
  thread_.SubmitEx(this, &BrisqMessagePumpIO::DispatchLoop);
  return true;
}

bool BrisqMessagePumpIO::Register(HANDLE handle, Observer* observer) {
  if (observer == nullptr || !port_.IsValid()) return false;
  observer->observed_handle_ = handle;
  if (::CreateIoCompletionPort(handle, port_.Get(), reinterpret_cast<ULONG_PTR>(observer), 1) ==
      nullptr) {
    BRISQ_LOG_AT(ERROR) << "Failed to CreateIoCompletionPort(" << BrisqLastErrorText() << ")";
    return false;
  }
  return true;
}

bool BrisqMessagePumpIO::PostTask(OVERLAPPED* overlapped, Observer* observer) {
  BRISQ_LOG(INFO) << StringPrintf("PostTask [%x] [%x]", Low32(overlapped), Low32(observer));
  if (overlapped == nullptr || !port_.IsValid()) return false;
  if (!::PostQueuedCompletionStatus(port_.Get(), 0, reinterpret_cast<ULONG_PTR>(observer),
                                    overlapped)) {
    BRISQ_LOG_AT(ERROR) << "Failed to PostQueuedCompletionStatus(" << BrisqLastErrorText() << ")";
    return false;
  }
  return true;
}

void BrisqMessagePumpIO::Close() {
  BRISQ_LOG(INFO) << "BrisqMessagePumpIO::Close [start]";
  // Posted even when the thread already ended (after a broken pipe); the
  // join then returns at once.
  if (port_.IsValid()) ::PostQueuedCompletionStatus(port_.Get(), 0, 0, ShutdownPacket());
  thread_.Close(INFINITE);
  port_.Reset();
  BRISQ_LOG(INFO) << "BrisqMessagePumpIO::Close [end]";
}

void BrisqMessagePumpIO::DispatchLoop() {
  // The port stays open until this thread has been joined.
  const HANDLE port = port_.Get();
  SetThreadName(kThreadName);
  ::SetLastError(0);
  BRISQ_LOG(INFO) << "Begin IOCP MessagePumpIO:[" << port << "]";

  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL dequeued = dequeue_(port, &bytes, &key, &overlapped, kDequeueTimeoutMs);
    const DWORD error = dequeued ? 0 : ::GetLastError();
    Observer* observer = reinterpret_cast<Observer*>(key);

    if (overlapped == ShutdownPacket()) {
      BRISQ_LOG(INFO) << "[BrisqMessagePumpIO] IOCP_SHUTDOWN";
      break;
    }

    if (dequeued) {
      if (overlapped == nullptr || observer == nullptr) continue;
      if (bytes == 0) {
        BRISQ_LOG(WARNING) << "[BrisqMessagePumpIO] Data transferred is empty";
        Deliver(observer, overlapped, 0, 0);
        continue;
      }
      const HANDLE handle = observer->ObservedHandle();
      DWORD resultBytes = 0;
      DWORD resultError = 0;
      if (!::GetOverlappedResult(handle, overlapped, &resultBytes, FALSE)) {
        resultError = ::GetLastError();
        if (resultError == ERROR_BROKEN_PIPE) {
          BRISQ_LOG(WARNING) << StringPrintf(
              "[BrisqMessagePumpIO] The pipe has been ended %x [%p] [%p]", Low32(handle),
              static_cast<void*>(overlapped), static_cast<void*>(observer));
        } else {
          BRISQ_LOG(WARNING) << StringPrintf("[BrisqMessagePumpIO] GetOverlappedResult %x (%d,%s)",
                                             Low32(handle), static_cast<int>(resultError),
                                             BrisqErrorText(resultError));
        }
        resultBytes = 0;
      }
      if (resultBytes != bytes) {
        BRISQ_LOG_AT(ERROR) << "GetQueuedCompletionStatus[" << bytes << "] fileOverLappedResult ["
                            << resultBytes << "]";
      }
      Deliver(observer, overlapped, bytes, resultError);
      continue;
    }

    if (error == WAIT_TIMEOUT) {
      BRISQ_LOG(INFO) << "GetQueuedCompletionStatus WAIT_TIMEOUT";
      continue;
    }

    if (error == ERROR_BROKEN_PIPE) {
      // The pump ends after a broken pipe; its owner opens it again to go on.
      BRISQ_LOG(WARNING) << "The pipe has been ended.";
      if (observer == nullptr || overlapped == nullptr) {
        BRISQ_LOG_AT(ERROR) << "Error observer[" << key << "]"
                            << " context [" << overlapped << "]";
      } else {
        Deliver(observer, overlapped, bytes, ERROR_BROKEN_PIPE);
      }
      BRISQ_LOG(INFO) << "End IOCP MessagePumpIO:[" << port << "]";
      return;
    }

    BRISQ_LOG_AT(ERROR) << "GetQueuedCompletionStatus unknown error [" << error << "]";
    if (overlapped != nullptr && observer != nullptr) {
      BRISQ_LOG_AT(ERROR) << "GetQueuedCompletionStatus Failed with [" << overlapped << "] key["
                          << key << "] trans [" << bytes << "] gle [" << error << "]";
    }
    // Without a packet these errors mean the port itself is gone: waiting
    // again would fail at once, forever.
    if (overlapped == nullptr &&
        (error == ERROR_INVALID_HANDLE || error == ERROR_ABANDONED_WAIT_0)) {
      break;
    }
  }
  BRISQ_LOG(INFO) << "End IOCP MessagePumpIO:[" << port << "]";
}

}  // namespace IO
}  // namespace BrisqFramework
