#include "BrisqFramework/IO/BrisqSharedMemory.h"

#include <atomic>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {

std::string BrisqAnsiFromWide(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::string();
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

namespace {

HANDLE CreatePageFileMapping(const wchar_t* name, uint32_t size) {
  return ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

HANDLE OpenMapping(const wchar_t* name) {
  return ::OpenFileMappingW(BrisqSharedMemory::kOpenAccess, FALSE, name);
}

const BrisqSharedMemory::SystemCalls kRealCalls = {&CreatePageFileMapping, &OpenMapping};

// Set only by tests, before the objects that use it exist.
std::atomic<const BrisqSharedMemory::SystemCalls*> g_calls{&kRealCalls};

}  // namespace

const BrisqSharedMemory::SystemCalls& BrisqSharedMemory::RealSystemCalls() { return kRealCalls; }

void BrisqSharedMemory::SetSystemCallsForTesting(const SystemCalls* calls) {
  g_calls.store(calls != nullptr ? calls : &kRealCalls);
}

BrisqSharedMemory::~BrisqSharedMemory() { Close(); }

bool BrisqSharedMemory::Create(const wchar_t* name, uint32_t size, const wchar_t* fallback) {
  Close();
  read_only_ = 0;
  requested_size_ = size;
  const SystemCalls* calls = g_calls.load();
  HANDLE mapping = calls->create(name, size);
  if (mapping == nullptr && fallback != nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    mapping = calls->create(fallback, size);
    used_fallback_ = mapping != nullptr;
  }
  if (mapping == nullptr) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to CreateFileMapping(" << static_cast<int>(error) << ","
                        << BrisqErrorText(error) << ")";
    return false;
  }
  mapping_.Reset(mapping);
  return true;
}

bool BrisqSharedMemory::Open(const wchar_t* name, const wchar_t* fallback) {
  Close();
  read_only_ = 1;
  const SystemCalls* calls = g_calls.load();
  HANDLE mapping = calls->open(name);
  if (mapping == nullptr && fallback != nullptr) {
    const DWORD error = ::GetLastError();
    mapping = calls->open(fallback);
    used_fallback_ = mapping != nullptr;
    // A failure is reported for the first name, as before fallbacks existed.
    if (mapping == nullptr) ::SetLastError(error);
  }
  if (mapping == nullptr) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to OpenFileMapping(" << static_cast<int>(error) << ","
                        << BrisqAnsiFromWide(name) << "," << BrisqErrorText(error) << ")";
    return false;
  }
  mapping_.Reset(mapping);
  return true;
}

bool BrisqSharedMemory::Map(uint32_t size) {
  if (!mapping_.IsValid()) return false;
  view_.Reset();
  mapped_size_ = 0;
  void* view =
      ::MapViewOfFile(mapping_.Get(), read_only_ ? FILE_MAP_READ : kWriteAccess, 0, 0, size);
  if (view == nullptr) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to MapViewOfFile(" << static_cast<int>(error) << ","
                        << BrisqErrorText(error) << ")";
    return false;
  }
  view_.Reset(view);
  mapped_size_ = size;
  return true;
}

void BrisqSharedMemory::Close() {
  used_fallback_ = false;
  view_.Reset();
  mapping_.Reset();
  requested_size_ = 0;
  mapped_size_ = 0;
}

}  // namespace BrisqFramework
