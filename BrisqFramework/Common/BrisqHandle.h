// BrisqHandle.h - move-only owner of a Windows handle whose invalid value is
// null (events, semaphores, mutexes, threads, mappings, completion ports).
// Handles whose invalid value is INVALID_HANDLE_VALUE (files, pipes from
// CreateFileW/CreateNamedPipeW) are not for this owner; see BrisqFile.
#ifndef BRISQFRAMEWORK_COMMON_BRISQHANDLE_H
#define BRISQFRAMEWORK_COMMON_BRISQHANDLE_H

#include <windows.h>

namespace BrisqFramework {

class BrisqHandle {
 public:
  BrisqHandle() noexcept = default;
  // Takes ownership of `handle` (null allowed).
  explicit BrisqHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~BrisqHandle() { Reset(); }

  BrisqHandle(BrisqHandle&& other) noexcept : handle_(other.Detach()) {}
  BrisqHandle& operator=(BrisqHandle&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  BrisqHandle(const BrisqHandle&) = delete;
  BrisqHandle& operator=(const BrisqHandle&) = delete;

  HANDLE Get() const noexcept { return handle_; }
  bool IsValid() const noexcept { return handle_ != nullptr; }

  // Closes the held handle, if any, and takes `handle` instead.
  void Reset(HANDLE handle = nullptr) noexcept {
    HANDLE old = handle_;
    handle_ = handle;
    if (old != nullptr && old != handle) ::CloseHandle(old);
  }

  // Gives up ownership without closing; returns the handle.
  HANDLE Detach() noexcept {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQHANDLE_H
