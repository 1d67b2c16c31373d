// win_handles.h - move-only owners of the Win32 handles the benchmark uses.
// UniqueHandle treats null as "none" (events, semaphores, mappings,
// processes, threads); UniqueFile treats INVALID_HANDLE_VALUE as "none"
// (pipes from CreateNamedPipeW / CreateFileW). UniqueView unmaps a view.
#ifndef TRANSPORT_BENCH_WIN_HANDLES_H
#define TRANSPORT_BENCH_WIN_HANDLES_H

#include <windows.h>

#include <utility>

namespace transport_bench {

template <typename Traits>
class BasicHandle {
 public:
  BasicHandle() = default;
  explicit BasicHandle(HANDLE handle) : handle_(handle) {}
  ~BasicHandle() { reset(); }
  BasicHandle(BasicHandle&& other) noexcept : handle_(other.release()) {}
  BasicHandle& operator=(BasicHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  BasicHandle(const BasicHandle&) = delete;
  BasicHandle& operator=(const BasicHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Invalid(); }
  HANDLE release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(HANDLE handle = Traits::Invalid()) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = Traits::Invalid();
};

struct NullIsInvalid {
  static HANDLE Invalid() { return nullptr; }
};
struct InvalidValueIsInvalid {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};

using UniqueHandle = BasicHandle<NullIsInvalid>;
using UniqueFile = BasicHandle<InvalidValueIsInvalid>;

class UniqueView {
 public:
  UniqueView() = default;
  explicit UniqueView(void* view) : view_(view) {}
  ~UniqueView() { reset(); }
  UniqueView(UniqueView&& other) noexcept : view_(std::exchange(other.view_, nullptr)) {}
  UniqueView& operator=(UniqueView&& other) noexcept {
    if (this != &other) {
      reset();
      view_ = std::exchange(other.view_, nullptr);
    }
    return *this;
  }
  UniqueView(const UniqueView&) = delete;
  UniqueView& operator=(const UniqueView&) = delete;

  void* get() const { return view_; }
  void reset() {
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
    view_ = nullptr;
  }

 private:
  void* view_ = nullptr;
};

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_WIN_HANDLES_H
