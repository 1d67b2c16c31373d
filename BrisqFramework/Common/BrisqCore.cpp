#include "BrisqFramework/Common/BrisqCore.h"

#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {
namespace {

constexpr DWORD kSpinCount = 4000;
constexpr DWORD kErrorTextSize = 1024;  // at most 1023 characters and the null

// Formats into `buffer`, which holds kErrorTextSize characters.
const char* FormatErrorText(DWORD code, char* buffer) {
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  DWORD n = ::FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             buffer, kErrorTextSize, nullptr);
  buffer[n < kErrorTextSize ? n : kErrorTextSize - 1] = '\0';
  return buffer;
}

// One buffer per form and thread, so a text is never overwritten by another
// thread's failure while it is being logged.
thread_local char t_code_text[kErrorTextSize];
thread_local char t_last_error_text[kErrorTextSize];

// Logs "Failed to <call>(<error>,<text>)" for the calling thread's last error.
void LogLastErrorFailure(const char* file, int line, const char* call) {
  const DWORD error = ::GetLastError();
  LogMessage(file, line, kLogError).stream()
      << "Failed to " << call << "(" << static_cast<int>(error) << "," << BrisqErrorText(error)
      << ")";
}

}  // namespace

const char* BrisqErrorText(DWORD code) { return FormatErrorText(code, t_code_text); }

const char* BrisqLastErrorText() {
  const DWORD error = ::GetLastError();
  const char* text = FormatErrorText(error, t_last_error_text);
  ::SetLastError(error);
  return text;
}

// --- BrisqObject ------------------------------------------------------------

const BrisqRuntimeClass BrisqObject::kRuntimeClass = {"BrisqObject"};

BrisqObject::~BrisqObject() = default;

const BrisqRuntimeClass* BrisqObject::GetRuntimeClass() const { return &kRuntimeClass; }

// --- BrisqLock, BrisqAutoLock, BrisqConditionVariable -------------------------

BrisqLock::BrisqLock() { ::InitializeCriticalSectionAndSpinCount(&section_, kSpinCount); }
BrisqLock::~BrisqLock() { ::DeleteCriticalSection(&section_); }
void BrisqLock::Lock() { ::EnterCriticalSection(&section_); }
void BrisqLock::Unlock() { ::LeaveCriticalSection(&section_); }

BrisqAutoLock::BrisqAutoLock(BrisqLock& lock) : lock_(&lock) { lock_->Lock(); }
BrisqAutoLock::BrisqAutoLock(BrisqLock* lock) : lock_(lock) { lock_->Lock(); }
BrisqAutoLock::~BrisqAutoLock() { lock_->Unlock(); }

BrisqConditionVariable::BrisqConditionVariable() { ::InitializeConditionVariable(&condition_); }
void BrisqConditionVariable::Sleep(BrisqLock& lock) {
  ::SleepConditionVariableCS(&condition_, lock.NativeHandle(), INFINITE);
}
void BrisqConditionVariable::Wake() { ::WakeConditionVariable(&condition_); }

// --- BrisqEvent ---------------------------------------------------------------

BrisqEvent::~BrisqEvent() = default;

bool BrisqEvent::CreateEvent(const wchar_t* name) {
  // The new handle is taken before the old one is closed, so re-creating
  // under the same name keeps the existing event (and its state) alive.
  HANDLE h = ::CreateEventW(nullptr, FALSE, FALSE, name);
  if (h == nullptr) LogLastErrorFailure(__FILE__, __LINE__, "CreateEventW");
  handle_.Reset(h);
  return handle_.IsValid();
}

bool BrisqEvent::OpenEvent(const wchar_t* name) {
  HANDLE h = ::OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
  if (h == nullptr) LogLastErrorFailure(__FILE__, __LINE__, "OpenEvent");
  handle_.Reset(h);
  return handle_.IsValid();
}

bool BrisqEvent::SetEvent() {
  if (!handle_.IsValid()) return false;
  if (::SetEvent(handle_.Get())) return true;
  LogLastErrorFailure(__FILE__, __LINE__, "SetEvent");
  return false;
}

bool BrisqEvent::ResetEvent() {
  if (!handle_.IsValid()) return false;
  if (::ResetEvent(handle_.Get())) return true;
  LogLastErrorFailure(__FILE__, __LINE__, "ResetEvent");
  return false;
}

bool BrisqEvent::Wait(DWORD timeout_ms) {
  if (!handle_.IsValid()) return false;
  switch (::WaitForSingleObject(handle_.Get(), timeout_ms)) {
    case WAIT_OBJECT_0:
      return true;
    case WAIT_ABANDONED:
      BRISQ_LOG(INFO) << "WAIT_ABANDONED(EVENT)";
      return true;
    case WAIT_TIMEOUT:
      BRISQ_LOG(INFO) << "WaitForSingleObject timeout " << timeout_ms;
      return false;
    default:
      return false;
  }
}

void BrisqEvent::Close() { handle_.Reset(); }

// --- BrisqMutex ---------------------------------------------------------------

BrisqMutex::~BrisqMutex() = default;

bool BrisqMutex::Create(const wchar_t* name) {
  handle_.Reset();
  handle_.Reset(::CreateMutexW(nullptr, FALSE, name));
  return handle_.IsValid();
}

void BrisqMutex::Close() { handle_.Reset(); }

// --- BrisqSemaphore -----------------------------------------------------------

BrisqSemaphore::~BrisqSemaphore() = default;

bool BrisqSemaphore::Create(const wchar_t* name) {
  handle_.Reset();
  handle_.Reset(::CreateSemaphoreW(nullptr, 0, kMaximumCount, name));
  return handle_.IsValid();
}

bool BrisqSemaphore::Open(const wchar_t* name) {
  handle_.Reset();
  handle_.Reset(::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, name));
  return handle_.IsValid();
}

bool BrisqSemaphore::Wait() {
  if (!handle_.IsValid()) return false;
  const DWORD result = ::WaitForSingleObject(handle_.Get(), INFINITE);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void BrisqSemaphore::Release() {
  if (handle_.IsValid()) ::ReleaseSemaphore(handle_.Get(), 1, nullptr);
}

void BrisqSemaphore::Close() { handle_.Reset(); }

}  // namespace BrisqFramework
