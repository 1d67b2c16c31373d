#include "BrisqFramework/Common/BrisqFile.h"

#include <utility>

namespace BrisqFramework {

BrisqFile::BrisqFile(BrisqFile&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}

BrisqFile& BrisqFile::operator=(BrisqFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
  }
  return *this;
}

bool BrisqFile::OpenForAppend(const std::wstring& path) {
  if (IsOpen()) return true;
  if (path.empty() || path.size() > kMaxPath) return false;
  HANDLE h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool BrisqFile::Write(const void* data, size_t size) {
  if (!IsOpen() || size > MAXDWORD) return false;
  DWORD written = 0;
  return ::WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

void BrisqFile::Close() noexcept {
  if (IsOpen()) {
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

}  // namespace BrisqFramework
