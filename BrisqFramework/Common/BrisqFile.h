// BrisqFile.h - a Windows file opened for appending; move-only, closed when it goes.
#ifndef BRISQFRAMEWORK_COMMON_BRISQFILE_H
#define BRISQFRAMEWORK_COMMON_BRISQFILE_H

#include <windows.h>

#include <cstddef>
#include <string>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace BrisqFramework {

class BrisqFile {
 public:
  // Longest path OpenForAppend accepts, in UTF-16 units.
  static constexpr size_t kMaxPath = 259;

  // Succeeds at once when a file is already open. Otherwise opens `path` for
  // appending (created when missing; others may read and write it meanwhile).
  // False for an empty path, a path longer than kMaxPath, or a failed open.
  bool OpenForAppend(const std::wstring& path);
  bool IsOpen() const noexcept { return handle_.IsValid(); }
  // Appends `size` bytes with one WriteFile call. False when not open or the
  // write fails or is short.
  bool Write(const void* data, size_t size);
  void Close() noexcept { handle_.Reset(); }

 private:
  BrisqFileHandle handle_;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQFILE_H
