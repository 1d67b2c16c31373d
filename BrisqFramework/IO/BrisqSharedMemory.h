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
  // exists yields the existing mapping. The object becomes writable.
  // Failure: ERROR "Failed to CreateFileMapping(<error>,<system text>)".
  bool Create(const wchar_t* name, uint32_t size);

  // Closes what it holds, becomes read-only and opens the existing mapping
  // `name` for reading (not inheritable). Failure: ERROR
  // "Failed to OpenFileMapping(<error>,<name in ANSI>,<system text>)".
  bool Open(const wchar_t* name);

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
  BrisqMappedView view_;  // Close unmaps it before the mapping handle closes
  BrisqHandle mapping_;
  uint32_t requested_size_ = 0;
  uint32_t mapped_size_ = 0;
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_BRISQSHAREDMEMORY_H
