#include "BrisqFramework/IO/BrisqSingleRunner.h"

#include <utility>

#include "BrisqFramework/Common/BrisqClock.h"
#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {
namespace IO {
namespace {

constexpr DWORD kStartWaitMs = 1000;

}  // namespace

BrisqSingleRunner::~BrisqSingleRunner() {
  // The worker's handle is held from Open until Close: a worker that may
  // still run (or was never joined) must not outlive the runner it uses.
  if (worker_.HasThread()) Close();
}

bool BrisqSingleRunner::Open() {
  int32_t expected = state_.load();
  do {
    if (expected == kStarting || expected == kRunning) return false;
  } while (!state_.compare_exchange_weak(expected, kStarting));
  try {
    return Start();
  } catch (...) {
    // Starting the worker could not allocate: the runner may be opened again.
    BRISQ_LOG_CAUGHT("Failed to BrisqSingleRunner::Open");
    state_ = kIdle;
    return false;
  }
}

bool BrisqSingleRunner::Start() {
  {
    BrisqAutoLock hold(lock_);
    stop_ = false;
    queue_.clear();
  }
  // The event lives in the runner, not on this stack: the worker may set it
  // after the wait below has given up.
  if (!start_event_.CreateEvent(nullptr)) {
    BRISQ_LOG_AT(ERROR) << "Failed to CreateEvent(" << BrisqLastErrorText() << ")";
    state_ = kIdle;
    return false;
  }
  if (!worker_.SubmitEx(this, &BrisqSingleRunner::RunLoop)) {
    BRISQ_LOG_AT(ERROR) << "Failed to SubmitEx";
    state_ = kIdle;
    return false;
  }
  start_event_.Wait(kStartWaitMs);
  return true;
}

bool BrisqSingleRunner::Submit(std::function<void()> closure) {
  if (state_.load() != kRunning) return false;
  auto task = std::make_shared<_Task>();
  task->closure = std::move(closure);
  task->queued_ns = GetTimeNS();
  BrisqAutoLock hold(lock_);
  if (stop_) return false;
  queue_.push_back(std::move(task));
  wake_up_.Wake();
  return true;
}

bool BrisqSingleRunner::Close() {
  if (state_.load() != kClosing) {
    // Close runs in destructors: it must not throw. The stop flag alone ends
    // the worker after its batch; the quit task only makes it leave at once.
    std::shared_ptr<_Task> quit;
    try {
      quit = std::make_shared<_Task>();
      quit->kind = kTaskKindQuit;
      quit->queued_ns = GetTimeNS();
    } catch (...) {
      quit.reset();
    }
    BrisqAutoLock hold(lock_);
    stop_ = true;
    if (quit) {
      try {
        queue_.push_back(std::move(quit));
      } catch (...) {
      }
    }
    wake_up_.Wake();
    state_ = kClosing;
  }
  return worker_.Close(INFINITE);
}

bool BrisqSingleRunner::StopRequested() {
  BrisqAutoLock hold(lock_);
  return stop_;
}

void BrisqSingleRunner::RunLoop() {
  OnStart();
  // A Close that came first already moved the state on; keep its word.
  int32_t expected = kStarting;
  state_.compare_exchange_strong(expected, kRunning);
  start_event_.SetEvent();
  while (RunBatch() && !StopRequested()) {
  }
  OnStop();
  state_ = kEnded;
}

bool BrisqSingleRunner::RunBatch() {
  TaskQueue batch;
  {
    BrisqAutoLock hold(lock_);
    if (queue_.empty() && !stop_) wake_up_.Sleep(lock_);
    batch.swap(queue_);
  }
  for (const std::shared_ptr<_Task>& task : batch) {
    if (task->kind == kTaskKindQuit) return false;  // the rest is dropped
    if (task->closure) {
      // A task that throws is dropped; the next one runs.
      try {
        task->closure();
      } catch (...) {
        BRISQ_LOG_CAUGHT("Failed to BrisqSingleRunner::RunTask");
      }
    }
    BrisqAutoLock hold(task->done_lock);
    task->done = true;
  }
  return true;
}

}  // namespace IO
}  // namespace BrisqFramework
