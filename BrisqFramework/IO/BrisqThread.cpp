#include "BrisqFramework/IO/BrisqThread.h"

#include <memory>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {
namespace IO {
namespace {

// The thread owns the copy it is given: the BrisqThread's own closure may be
// replaced by the next Submit while this one is still running.
DWORD WINAPI ThreadMain(void* parameter) {
  std::unique_ptr<Callback> closure(static_cast<Callback*>(parameter));
  // An exception must not end the process through std::terminate: the
  // closure's work is dropped and the thread ends.
  try {
    closure->Run();
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to BrisqThread::Run");
  }
  return 0;
}

}  // namespace

BrisqThread::~BrisqThread() = default;

bool BrisqThread::Submit(const Callback& closure) {
  closure_ = closure;
  handle_.Reset();
  auto copy = std::make_unique<Callback>(closure_);
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, &ThreadMain, copy.get(), 0, &id);
  if (thread == nullptr) {
    BRISQ_LOG_AT(ERROR) << "Failed to CreateThread(" << BrisqLastErrorText() << ")";
    return false;
  }
  (void)copy.release();  // now owned by the thread
  handle_.Reset(thread);
  thread_id_ = id;
  return true;
}

bool BrisqThread::Close(DWORD timeout_ms) {
  BRISQ_LOG(INFO) << "[BrisqThread] Close(begin,...) " << static_cast<int>(thread_id_);
  bool ended = false;
  if (handle_.IsValid()) {
    ended = ::WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0;
    handle_.Reset();
  }
  // The started thread runs its own copy; dropping ours now releases what
  // the closure captured (a channel reference, say) instead of keeping it
  // until the next Submit.
  closure_ = Callback();
  BRISQ_LOG(INFO) << "[BrisqThread] Close(end,...) " << static_cast<int>(thread_id_);
  return ended;
}

}  // namespace IO
}  // namespace BrisqFramework
