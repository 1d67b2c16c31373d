// BrisqCore.h - thin wrappers of the Windows synchronization primitives and
// the system error text used in failure messages.
//
// Every wrapper owns its handle and closes it on Close() and on destruction.
// Kernel objects are created with default security (not inheritable); named
// ones are opened with all access rights (0x1F0003) and without inheritance.
//
// Concurrency: the wrappers add no locking of their own. One wrapper object
// must not be created, opened or closed by two threads at once; SetEvent,
// Wait and the semaphore operations may be called from any thread on a
// wrapper that stays open.
//
// <windows.h> is included here, so the member names CreateEvent and
// OpenEvent read CreateEventW/OpenEventW wherever this header is seen; call
// them by their plain names.
#ifndef BRISQFRAMEWORK_COMMON_BRISQCORE_H
#define BRISQFRAMEWORK_COMMON_BRISQCORE_H

#include <windows.h>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace BrisqFramework {

// ---------------------------------------------------------------------------
// System error text
// ---------------------------------------------------------------------------

// The system's message text for `code` (neutral language, user default),
// without line breaks and inserts, at most 1023 characters; empty when the
// system has no text for it. The text stays valid on the calling thread until
// its next call of the same form; every thread has its own buffers.
const char* BrisqErrorText(DWORD code);
// The same for the calling thread's last error. The last error is preserved.
const char* BrisqLastErrorText();

// ---------------------------------------------------------------------------
// Runtime class
// ---------------------------------------------------------------------------

struct BrisqRuntimeClass {
  const char* class_name;
};

// Base of framework objects that can name their class at run time.
class BrisqObject {
 public:
  BrisqObject() = default;
  virtual ~BrisqObject();
  // Answers the class record named "BrisqObject".
  virtual const BrisqRuntimeClass* GetRuntimeClass() const;

  static const BrisqRuntimeClass kRuntimeClass;
};

// ---------------------------------------------------------------------------
// In-process lock and condition variable
// ---------------------------------------------------------------------------

// A critical section with a spin count of 4000. The owning thread may enter
// it again (recursive entry); each Lock needs its Unlock.
class BrisqLock {
 public:
  BrisqLock();
  virtual ~BrisqLock();
  BrisqLock(const BrisqLock&) = delete;
  BrisqLock& operator=(const BrisqLock&) = delete;

  void Lock();
  void Unlock();

  // For BrisqConditionVariable only.
  CRITICAL_SECTION* NativeHandle() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};

// Enters the lock on construction, leaves it on destruction.
class BrisqAutoLock {
 public:
  explicit BrisqAutoLock(BrisqLock& lock);
  explicit BrisqAutoLock(BrisqLock* lock);  // must not be null
  virtual ~BrisqAutoLock();
  BrisqAutoLock(const BrisqAutoLock&) = delete;
  BrisqAutoLock& operator=(const BrisqAutoLock&) = delete;

 private:
  BrisqLock* lock_;
};

// A system condition variable used with a BrisqLock. There is no built-in
// predicate loop: wake-ups may be spurious, callers re-check their condition.
class BrisqConditionVariable {
 public:
  BrisqConditionVariable();
  BrisqConditionVariable(const BrisqConditionVariable&) = delete;
  BrisqConditionVariable& operator=(const BrisqConditionVariable&) = delete;

  // Leaves `lock` (held once by the caller), waits without a time limit for
  // a Wake and enters the lock again before returning.
  void Sleep(BrisqLock& lock);
  // Wakes one waiter, if any.
  void Wake();

 private:
  CONDITION_VARIABLE condition_;
};

// ---------------------------------------------------------------------------
// Named kernel objects
// ---------------------------------------------------------------------------

// An auto-reset event. Failures of create, open, set and reset log one ERROR
// line "Failed to <call>(<last error>,<system text>)".
class BrisqEvent {
 public:
  BrisqEvent() = default;
  virtual ~BrisqEvent();
  BrisqEvent(const BrisqEvent&) = delete;
  BrisqEvent& operator=(const BrisqEvent&) = delete;

  // Creates a new auto-reset, non-signalled event (unnamed when `name` is
  // null); a name that exists opens that event. Replaces (and closes) a
  // handle held before. True when a handle is held afterwards.
  // Failure line: "Failed to CreateEventW(%d,%s)".
  bool CreateEvent(const wchar_t* name = nullptr);
  // Opens an existing named event, replacing a handle held before. On
  // failure the wrapper is empty. Failure line: "Failed to OpenEvent(%d,%s)".
  bool OpenEvent(const wchar_t* name);
  // Signals. False without a handle (nothing is called) or when the call
  // fails ("Failed to SetEvent(%d,%s)").
  bool SetEvent();
  // Clears. False without a handle or on failure ("Failed to ResetEvent(%d,%s)").
  bool ResetEvent();
  // Waits up to `timeout_ms` (INFINITE allowed). True when signalled, also
  // when the wait reports an abandoned object (after the INFO line
  // "WAIT_ABANDONED(EVENT)"). False on time-out after the INFO line
  // "WaitForSingleObject timeout <ms>", and false without a line for any
  // other result or without a handle.
  bool Wait(DWORD timeout_ms);
  // Closes and clears the handle.
  void Close();

  HANDLE Handle() const { return handle_.Get(); }
  bool IsValid() const { return handle_.IsValid(); }

 private:
  BrisqHandle handle_;
};

// A mutex the library creates but never waits on (the pipe client holds one
// named after its pipe while it is open). No log lines: callers log.
class BrisqMutex {
 public:
  BrisqMutex() = default;
  virtual ~BrisqMutex();
  BrisqMutex(const BrisqMutex&) = delete;
  BrisqMutex& operator=(const BrisqMutex&) = delete;

  // Closes a previous handle, then creates (or opens, if the name exists) a
  // mutex the caller does not own. True when a handle is held.
  bool Create(const wchar_t* name);
  void Close();

  HANDLE Handle() const { return handle_.Get(); }
  bool IsValid() const { return handle_.IsValid(); }

 private:
  BrisqHandle handle_;
};

// A counting semaphore (initial count 0, maximum 0x7FFFFFFF). No log lines:
// callers log their own texts.
class BrisqSemaphore : public BrisqObject {
 public:
  static constexpr LONG kMaximumCount = 0x7FFFFFFF;

  BrisqSemaphore() = default;
  ~BrisqSemaphore() override;
  BrisqSemaphore(const BrisqSemaphore&) = delete;
  BrisqSemaphore& operator=(const BrisqSemaphore&) = delete;

  // Closes a previous handle, then creates a semaphore with count 0, or opens
  // the existing one under `name` with its current count. True when a handle
  // is held.
  bool Create(const wchar_t* name);
  // Closes a previous handle, then opens an existing named semaphore. False,
  // and empty, when the name does not exist.
  bool Open(const wchar_t* name);
  // Waits without a time limit. True when the wait succeeded or reported an
  // abandoned object; false without a handle or on failure.
  bool Wait();
  // Raises the count by 1. The outcome is not looked at.
  void Release();
  // Closes and clears the handle.
  void Close();

  HANDLE Handle() const { return handle_.Get(); }
  bool IsValid() const { return handle_.IsValid(); }

 private:
  BrisqHandle handle_;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQCORE_H
