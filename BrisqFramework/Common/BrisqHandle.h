// BrisqHandle.h - the one move-only owner of Windows handles and mapped
// views, BrisqUniqueHandle<Traits>, and its traits:
// - BrisqHandle: handles whose empty value is null (events, semaphores,
//   mutexes, threads, processes, mappings, completion ports);
// - BrisqFileHandle: handles from CreateFileW/CreateNamedPipeW, whose
//   failure value is INVALID_HANDLE_VALUE (null counts as empty too);
// - BrisqMappedView: a view from MapViewOfFile, unmapped instead of closed.
// Other kinds (GDI objects, modules) bring their own traits. No owner can be
// copied; moving leaves the source empty.
#ifndef BRISQFRAMEWORK_COMMON_BRISQHANDLE_H
#define BRISQFRAMEWORK_COMMON_BRISQHANDLE_H

#include <windows.h>

#include <utility>

namespace BrisqFramework {

// Traits: `Type`, `Empty()` (the value an empty owner holds), `IsEmpty(v)`
// and `Close(v)` (called once for every non-empty value given up).
template <typename Traits>
class BrisqUniqueHandle {
 public:
  using Type = typename Traits::Type;

  BrisqUniqueHandle() noexcept = default;
  // Takes ownership of `handle` (an empty value allowed).
  explicit BrisqUniqueHandle(Type handle) noexcept : handle_(handle) {}
  ~BrisqUniqueHandle() { Reset(); }

  BrisqUniqueHandle(BrisqUniqueHandle&& other) noexcept : handle_(other.Detach()) {}
  BrisqUniqueHandle& operator=(BrisqUniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  BrisqUniqueHandle(const BrisqUniqueHandle&) = delete;
  BrisqUniqueHandle& operator=(const BrisqUniqueHandle&) = delete;

  Type Get() const noexcept { return handle_; }
  bool IsValid() const noexcept { return !Traits::IsEmpty(handle_); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Closes the held value, if any, and takes `handle` instead.
  void Reset(Type handle = Traits::Empty()) noexcept {
    const Type old = std::exchange(handle_, handle);
    if (!Traits::IsEmpty(old) && old != handle) Traits::Close(old);
  }

  // Gives up ownership without closing; returns the value.
  Type Detach() noexcept { return std::exchange(handle_, Traits::Empty()); }

 private:
  Type handle_ = Traits::Empty();
};

struct NullIsEmptyTraits {
  using Type = HANDLE;
  static HANDLE Empty() noexcept { return nullptr; }
  static bool IsEmpty(HANDLE handle) noexcept { return handle == nullptr; }
  static void Close(HANDLE handle) noexcept { ::CloseHandle(handle); }
};

struct InvalidIsEmptyTraits {
  using Type = HANDLE;
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(HANDLE handle) noexcept {
    return handle == INVALID_HANDLE_VALUE || handle == nullptr;
  }
  static void Close(HANDLE handle) noexcept { ::CloseHandle(handle); }
};

struct MappedViewTraits {
  using Type = void*;
  static void* Empty() noexcept { return nullptr; }
  static bool IsEmpty(void* view) noexcept { return view == nullptr; }
  static void Close(void* view) noexcept { ::UnmapViewOfFile(view); }
};

using BrisqHandle = BrisqUniqueHandle<NullIsEmptyTraits>;
using BrisqFileHandle = BrisqUniqueHandle<InvalidIsEmptyTraits>;
using BrisqMappedView = BrisqUniqueHandle<MappedViewTraits>;

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQHANDLE_H
