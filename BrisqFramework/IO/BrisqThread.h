// BrisqThread.h - one native thread that runs one closure and can be waited
// for.
#ifndef BRISQFRAMEWORK_IO_BRISQTHREAD_H
#define BRISQFRAMEWORK_IO_BRISQTHREAD_H

#include <windows.h>

#include <cstdint>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/IO/Callback.h"

namespace BrisqFramework {
namespace IO {

// Thread affinity: Submit, SubmitEx and Close are called by the owner, one at
// a time (no lock of its own); they must not be called from the thread they
// manage. The started thread runs its own copy of the closure, so the
// BrisqThread may be resubmitted or destroyed while that thread still runs;
// whatever the closure points to must outlive it.
class BrisqThread {
 public:
  BrisqThread() = default;
  // Closes the handle without waiting for the thread.
  virtual ~BrisqThread();
  BrisqThread(const BrisqThread&) = delete;
  BrisqThread& operator=(const BrisqThread&) = delete;

  // Starts a new thread (default stack, no creation flags) that runs
  // `closure` once and ends. A previous handle is closed first without
  // waiting for its thread. True when a thread was created; else logs ERROR
  // "Failed to CreateThread(%s)" and returns false.
  virtual bool Submit(const Callback& closure);

  // The same for `method` bound to `object`.
  template <class T>
  bool SubmitEx(T* object, void (T::*method)()) {
    return Submit(Callback(object, method));
  }

  // Logs INFO "[BrisqThread] Close(begin,...) <id>", waits up to
  // `timeout_ms` (INFINITE allowed) for the thread, closes the handle and
  // logs INFO "[BrisqThread] Close(end,...) <id>". True only when the thread
  // ended within the time; false at once (after both lines) without a thread.
  virtual bool Close(DWORD timeout_ms);

  // Id of the last thread started (0 before the first).
  DWORD ThreadId() const { return thread_id_; }
  // True while a handle is held: from a successful Submit until Close.
  bool HasThread() const { return handle_.IsValid(); }

 private:
  Callback closure_;    // the last closure submitted
  BrisqHandle handle_;  // the last thread started, until Close
  DWORD thread_id_ = 0;
};

}  // namespace IO
}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_BRISQTHREAD_H
