#include "BrisqFramework/IO/BrisqSharedMemory.h"

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

BrisqSharedMemory::~BrisqSharedMemory() { Close(); }

bool BrisqSharedMemory::Create(const wchar_t* name, uint32_t size) {
  Close();
  read_only_ = 0;
  requested_size_ = size;
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  if (mapping == nullptr) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to CreateFileMapping(" << static_cast<int>(error) << ","
                        << BrisqErrorText(error) << ")";
    return false;
  }
  mapping_.Reset(mapping);
  return true;
}

bool BrisqSharedMemory::Open(const wchar_t* name) {
  Close();
  read_only_ = 1;
  HANDLE mapping = ::OpenFileMappingW(kOpenAccess, FALSE, name);
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
  view_.Reset();
  mapping_.Reset();
  requested_size_ = 0;
  mapped_size_ = 0;
}

}  // namespace BrisqFramework
