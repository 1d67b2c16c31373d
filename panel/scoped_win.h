#pragma once

// Small move-only owners for the Windows handles the panel creates. Each kind
// of handle has its own owner so that a handle can never be freed by the wrong
// function; none of them can be copied.

#include <windows.h>

#include <utility>

namespace tessaly {

// Owns one handle and frees it with Traits::close when it goes away. A null
// handle owns nothing.
template <typename Handle, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

  // Frees the owned handle (if any) and takes `handle` instead.
  void reset(Handle handle = nullptr) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != nullptr) Traits::close(old);
  }

  // Gives the handle up without freeing it.
  Handle release() noexcept { return std::exchange(handle_, nullptr); }

 private:
  Handle handle_ = nullptr;
};

struct GdiObjectTraits {
  static void close(HGDIOBJ object) noexcept { ::DeleteObject(object); }
};
struct MemoryDcTraits {
  static void close(HDC dc) noexcept { ::DeleteDC(dc); }
};
struct ModuleTraits {
  static void close(HMODULE module) noexcept { ::FreeLibrary(module); }
};
struct LocalMemoryTraits {
  static void close(void* memory) noexcept { ::LocalFree(memory); }
};

using UniqueFont = UniqueHandle<HFONT, GdiObjectTraits>;
using UniqueBitmap = UniqueHandle<HBITMAP, GdiObjectTraits>;
using UniqueBrush = UniqueHandle<HBRUSH, GdiObjectTraits>;
using UniqueMemoryDc = UniqueHandle<HDC, MemoryDcTraits>;    // from CreateCompatibleDC
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;    // from LoadLibraryExW
using UniqueLocal = UniqueHandle<void*, LocalMemoryTraits>;  // from LocalAlloc and its users

// Selects a GDI object into a device context for one scope and selects the
// previous object back when the scope ends, so the object can be deleted
// afterwards without still being selected.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() {
    if (old_ != nullptr && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace tessaly
