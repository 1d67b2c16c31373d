// BrisqFile.h - move-only owner of a Windows file handle opened for appending.
#ifndef BRISQFRAMEWORK_COMMON_BRISQFILE_H
#define BRISQFRAMEWORK_COMMON_BRISQFILE_H

#include <windows.h>

#include <cstddef>
#include <string>

namespace BrisqFramework {

class BrisqFile {
 public:
  // Longest path OpenForAppend accepts, in UTF-16 units.
  static constexpr size_t kMaxPath = 259;

  BrisqFile() noexcept = default;
  ~BrisqFile() { Close(); }
  BrisqFile(BrisqFile&& other) noexcept;
  BrisqFile& operator=(BrisqFile&& other) noexcept;
  BrisqFile(const BrisqFile&) = delete;
  BrisqFile& operator=(const BrisqFile&) = delete;

  // Succeeds at once when a file is already open. Otherwise opens `path` for
  // appending (created when missing; others may read and write it meanwhile).
  // False for an empty path, a path longer than kMaxPath, or a failed open.
  bool OpenForAppend(const std::wstring& path);
  bool IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  // Appends `size` bytes with one WriteFile call. False when not open or the
  // write fails or is short.
  bool Write(const void* data, size_t size);
  void Close() noexcept;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQFILE_H
