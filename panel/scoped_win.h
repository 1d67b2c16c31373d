#pragma once

// Small move-only owners for the Windows handles the panel creates. Each kind
// of handle has its own owner so that a handle can never be freed by the wrong
// function; none of them can be copied.

#include <windows.h>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace tessaly {

// Each kind frees its handle with its own function, through the framework's
// one owner (BrisqFramework/Common/BrisqHandle.h). A null handle owns nothing.
template <typename Handle, void (*Free)(Handle)>
struct NullIsEmptyWith {
  using Type = Handle;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsEmpty(Handle handle) noexcept { return handle == nullptr; }
  static void Close(Handle handle) noexcept { Free(handle); }
};

template <typename Gdi>
void DeleteGdiObject(Gdi object) {
  ::DeleteObject(object);
}
inline void DeleteMemoryDc(HDC dc) { ::DeleteDC(dc); }
inline void UnloadModule(HMODULE module) { ::FreeLibrary(module); }
inline void FreeLocal(void* memory) { ::LocalFree(memory); }

template <typename Handle, void (*Free)(Handle)>
using UniqueHandle = BrisqFramework::BrisqUniqueHandle<NullIsEmptyWith<Handle, Free>>;

using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject<HFONT>>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject<HBITMAP>>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject<HBRUSH>>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;  // from CreateCompatibleDC
using UniqueModule = UniqueHandle<HMODULE, UnloadModule>;  // from LoadLibraryExW
using UniqueLocal = UniqueHandle<void*, FreeLocal>;        // from LocalAlloc and its users

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
