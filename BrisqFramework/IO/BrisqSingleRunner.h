// BrisqSingleRunner.h - a task runner: one worker thread executes queued
// closures one after another, in the order in which they were queued.
#ifndef BRISQFRAMEWORK_IO_BRISQSINGLERUNNER_H
#define BRISQFRAMEWORK_IO_BRISQSINGLERUNNER_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/IO/BrisqThread.h"

namespace BrisqFramework {
namespace IO {

// Threads: Open and Close belong to the owner and must not be called from
// the worker (Close joins it); Submit may be called from any thread,
// including from a task. Tasks and OnStart/OnStop run on the worker only,
// so tasks never overlap. lock_ guards stop_ and queue_ and is never held
// while a task runs.
class BrisqSingleRunner {
 public:
  enum State : int32_t {
    kIdle = 0,
    kStarting = 1,
    kRunning = 2,
    kEnded = 3,
    kClosing = 4,
  };

  BrisqSingleRunner() = default;
  // Closes the runner if its worker was not joined yet. A derived class that
  // overrides OnStart/OnStop must Close in its own destructor, before its
  // part of the object is gone.
  virtual ~BrisqSingleRunner();
  BrisqSingleRunner(const BrisqSingleRunner&) = delete;
  BrisqSingleRunner& operator=(const BrisqSingleRunner&) = delete;

  // Starts the worker and waits up to 1000 ms for it to report running;
  // true once the worker thread exists, even if that wait timed out (Submit
  // refuses work until the worker runs). False, back in state idle, after
  // ERROR "Failed to CreateEvent(%s)" or "Failed to SubmitEx"; false without
  // a line while the runner is starting or running already (a second worker
  // would run tasks of the same queue at the same time).
  bool Open();

  // Queues `closure` as one task. False, and nothing queued, unless the
  // runner is running and not closing. Any thread.
  bool Submit(std::function<void()> closure);

  // Stops taking work, queues the quit task and joins the worker without a
  // time limit; returns whether the worker ended (false when none ran).
  // Tasks whose batch had not started when the worker saw the stop are
  // dropped unrun. When already closing, it only joins.
  bool Close();

  State GetState() const { return static_cast<State>(state_.load()); }

 protected:
  // Called on the worker before the first task and after the last one.
  virtual void OnStart() {}
  virtual void OnStop() {}

 private:
  static constexpr int32_t kTaskKindQuit = 18;

  struct _Task {
    int32_t kind = 0;               // 0, or kTaskKindQuit
    std::function<void()> closure;  // empty for the quit task
    uint64_t queued_ns = 0;         // GetTimeNS() when queued
    BrisqLock done_lock;            // guards done
    bool done = false;              // set after the closure ran
  };
  using TaskQueue = std::deque<std::shared_ptr<_Task>>;

  bool Start();     // Open's work once the state is starting; may throw
  void RunLoop();   // the worker
  bool RunBatch();  // false once the quit task was taken
  bool StopRequested();

  bool stop_ = false;  // guarded by lock_
  std::atomic<int32_t> state_{kIdle};
  BrisqLock lock_;
  BrisqConditionVariable wake_up_;  // signalled on every enqueue, with lock_
  BrisqThread worker_;
  TaskQueue queue_;         // guarded by lock_
  BrisqEvent start_event_;  // set by the worker once running; owner's thread otherwise
};

}  // namespace IO
}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_BRISQSINGLERUNNER_H
