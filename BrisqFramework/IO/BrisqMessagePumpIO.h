// BrisqMessagePumpIO.h - an I/O completion pump: one completion port and one
// thread ("IPC Reader") that hands each completion packet to the observer
// registered for the handle it belongs to.
#ifndef BRISQFRAMEWORK_IO_BRISQMESSAGEPUMPIO_H
#define BRISQFRAMEWORK_IO_BRISQMESSAGEPUMPIO_H

#include <windows.h>

#include <cstdint>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/IO/BrisqThread.h"

namespace BrisqFramework {
namespace IO {

// Threads: Open and Close belong to the owner and must not be called from
// the pump thread (Close joins it). Register and PostTask may be called from
// any thread while the pump is open. All OnCompletion calls of one pump come
// from its thread, one at a time.
class BrisqMessagePumpIO {
 public:
  // Receives the completions of one handle. The observer itself is the
  // completion key, so it must outlive every packet queued for it.
  class Observer {
   public:
    virtual ~Observer() = default;
    // On the pump thread. `bytes` is the packet's byte count (0 for a posted
    // task); `error` is 0, the overlapped result's error code, or 109 when
    // the pipe has been ended.
    virtual void OnCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) = 0;

    // The handle Register associated with this observer (null before).
    HANDLE ObservedHandle() const { return observed_handle_; }

   private:
    friend class BrisqMessagePumpIO;
    HANDLE observed_handle_ = nullptr;  // not owned
  };

  // Logs INFO "[BrisqMessagePumpIO] constructor(Instance)".
  BrisqMessagePumpIO();
  // Stops a thread that was not joined, closes the port, logs INFO
  // "[BrisqMessagePumpIO] destructor(Instance)".
  ~BrisqMessagePumpIO();
  BrisqMessagePumpIO(const BrisqMessagePumpIO&) = delete;
  BrisqMessagePumpIO& operator=(const BrisqMessagePumpIO&) = delete;

  // Stops a previous pump thread and closes its port, creates a new port
  // (concurrency 0) and starts the pump thread. False after ERROR
  // "Failed to CreateIoCompletionPort(%s)"; a thread that could not be
  // created is only logged (by BrisqThread). Handles must be registered
  // again after a re-open.
  bool Open();

  // Stores `handle` in `observer` and associates it with the port, the
  // observer as completion key. False when `observer` is null or the port
  // is not open; false after ERROR "Failed to CreateIoCompletionPort(%s)".
  bool Register(HANDLE handle, Observer* observer);

  // Logs INFO "PostTask [%x] [%x]", then queues a packet of 0 bytes with
  // `observer` as key; it arrives as OnCompletion(overlapped, 0, 0). False
  // when `overlapped` is null or the port is not open; false after ERROR
  // "Failed to PostQueuedCompletionStatus(%s)".
  bool PostTask(OVERLAPPED* overlapped, Observer* observer);

  // Logs INFO "BrisqMessagePumpIO::Close [start]", posts the shutdown packet,
  // waits for the pump thread without a time limit (returns at once when it
  // already ended), closes the port and logs INFO
  // "BrisqMessagePumpIO::Close [end]".
  void Close();

  // The port, null when none (for logs and tests).
  HANDLE Port() const { return port_.Get(); }
  // Id of the last pump thread started.
  DWORD ThreadId() const { return thread_.ThreadId(); }

  // For tests only: the call the pump thread dequeues with (default
  // ::GetQueuedCompletionStatus), so that a test can make the port fail as
  // a closed or abandoned port does. Owner's thread, before Open.
  using DequeueFunction = BOOL(WINAPI*)(HANDLE, LPDWORD, PULONG_PTR, LPOVERLAPPED*, DWORD);
  void SetDequeueForTesting(DequeueFunction dequeue) { dequeue_ = dequeue; }

 private:
  void DispatchLoop();  // the pump thread
  void StopThreadAndClosePort();

  BrisqHandle port_;       // written by Open/Close only, while no pump thread runs
  DWORD concurrency_ = 0;  // 0: as many threads as processors
  DequeueFunction dequeue_ = &::GetQueuedCompletionStatus;  // read by the pump thread only
  BrisqThread thread_;
};

}  // namespace IO
}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_BRISQMESSAGEPUMPIO_H
