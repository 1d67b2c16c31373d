// BrisqSharedMemory.h - a named, page-file backed file mapping and one view
// of it.
//
// The writer of a shared buffer calls Create and then Map; the reader calls
// Open (which makes the object read-only) and then Map. Close unmaps the view
// and closes the mapping handle; destruction does the same. A mapping lives
// as long as any process holds it.
//
// Threads: an object is used by one thread at a time (its owner adds no
// locking); the view may be read or written by the owner's thread only while
// the object stays mapped.
#ifndef BRISQFRAMEWORK_IO_BRISQSHAREDMEMORY_H
#define BRISQFRAMEWORK_IO_BRISQSHAREDMEMORY_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace BrisqFramework {

// `text` in the system's ANSI code page, as used in log lines; empty for
// null.
std::string BrisqAnsiFromWide(const wchar_t* text);

class BrisqSharedMemory {
 public:
  // The system calls that make and open a mapping, as Create and Open use
  // them: both return the mapping handle, or null with the thread's last
  // error set.
  struct SystemCalls {
    HANDLE (*create)(const wchar_t* name, uint32_t size);
    HANDLE (*open)(const wchar_t* name);
  };
  // The real calls (CreateFileMappingW on the page file, read-write, default
  // security; OpenFileMappingW with kOpenAccess, not inheritable).
  static const SystemCalls& RealSystemCalls();
  // Test seam: every object uses `calls` from now on (null: the real ones).
  // Lets a test play a platform rule Wine does not enforce, such as a
  // "Global\" mapping refused to an ordinary user. Linked into white-box
  // tests only; Quenlo.dll exports nothing that reaches it.
  static void SetSystemCallsForTesting(const SystemCalls* calls);

  // How a reader opens a mapping.
  static constexpr DWORD kOpenAccess = FILE_MAP_READ | FILE_MAP_COPY;
  // How the writer maps its view.
  static constexpr DWORD kWriteAccess = FILE_MAP_ALL_ACCESS;

  BrisqSharedMemory() = default;
  ~BrisqSharedMemory();
  BrisqSharedMemory(const BrisqSharedMemory&) = delete;
  BrisqSharedMemory& operator=(const BrisqSharedMemory&) = delete;

  // Closes what it holds, then creates a page-file backed, read-write
  // mapping of `size` bytes under `name` with default security; a name that
  // exists yields the existing mapping. The object becomes writable. When
  // the system refuses `name` with ERROR_ACCESS_DENIED and `fallback` is
  // given, the mapping is created under `fallback` instead (UsedFallback()
  // tells). Failure: ERROR "Failed to CreateFileMapping(<error>,<system
  // text>)" for the last name tried.
  bool Create(const wchar_t* name, uint32_t size, const wchar_t* fallback = nullptr);

  // Closes what it holds, becomes read-only and opens the existing mapping
  // `name` for reading (not inheritable); when that fails and `fallback` is
  // given, opens `fallback` instead. Failure of both: ERROR
  // "Failed to OpenFileMapping(<error>,<name in ANSI>,<system text>)" for
  // `name`, as if no fallback had been tried.
  bool Open(const wchar_t* name, const wchar_t* fallback = nullptr);

  // True when the held mapping is the one named `fallback` at Create or Open.
  bool UsedFallback() const { return used_fallback_; }

  // Maps `size` bytes from offset 0 (replacing a view held before): read-only
  // after Open, with all access after Create. False without a mapping, and
  // after the ERROR line "Failed to MapViewOfFile(<error>,<system text>)"
  // when the system refuses (for example when the mapping is smaller).
  bool Map(uint32_t size);

  // Unmaps the view and closes the mapping; sizes become 0.
  void Close();

  // The view (null when not mapped) and its size in bytes.
  uint8_t* View() const { return static_cast<uint8_t*>(view_.Get()); }
  uint32_t MappedSize() const { return mapped_size_; }
  bool HasMapping() const { return mapping_.IsValid(); }
  bool IsReadOnly() const { return read_only_ != 0; }

 private:
  int32_t read_only_ = 0;
  bool used_fallback_ = false;
  BrisqMappedView view_;  // Close unmaps it before the mapping handle closes
  BrisqHandle mapping_;
  uint32_t requested_size_ = 0;
  uint32_t mapped_size_ = 0;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_BRISQSHAREDMEMORY_H
