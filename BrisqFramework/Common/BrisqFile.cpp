#include "BrisqFramework/Common/BrisqFile.h"

namespace BrisqFramework {

bool BrisqFile::OpenForAppend(const std::wstring& path) {
  if (IsOpen()) return true;
  if (path.empty() || path.size() > kMaxPath) return false;
  handle_.Reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return IsOpen();
}

bool BrisqFile::Write(const void* data, size_t size) {
  if (!IsOpen() || size > MAXDWORD) return false;
  DWORD written = 0;
  return ::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
}

}  // namespace BrisqFramework
