// BrisqRefCount.h - intrusive, thread-safe reference count and the small
// smart pointer that holds it.
//
// Usage:
//   class PipeChannel : public BrisqRefCount<PipeChannel> { ... };
//   BrisqRef<PipeChannel> channel = MakeBrisqRef<PipeChannel>();
//
// A new object starts with a count of 0; the first owner (normally a
// BrisqRef) takes the first reference. The Release that brings the count to
// 0 deletes the object through `delete static_cast<T*>(this)`, so T's own
// destructor runs even if it is not virtual. Any thread may AddRef/Release.
#ifndef BRISQFRAMEWORK_COMMON_BRISQREFCOUNT_H
#define BRISQFRAMEWORK_COMMON_BRISQREFCOUNT_H

#include <atomic>
#include <cstdint>
#include <utility>

namespace BrisqFramework {

template <class T>
class BrisqRefCount {
 public:
  BrisqRefCount(const BrisqRefCount&) = delete;
  BrisqRefCount& operator=(const BrisqRefCount&) = delete;

  // Adds one reference; returns the new count.
  uint32_t AddRef() const noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }

  // Drops one reference; returns the remaining count. At 0 the object has
  // been deleted and must not be touched again.
  uint32_t Release() const noexcept {
    // acq_rel: every write made by other owners before their Release is
    // visible to the thread that runs the destructor.
    const uint32_t remaining = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete static_cast<const T*>(this);
    return remaining;
  }

  // The current count; only a hint while other threads hold references.
  uint32_t RefCount() const noexcept { return count_.load(std::memory_order_acquire); }

 protected:
  BrisqRefCount() noexcept = default;
  ~BrisqRefCount() = default;

 private:
  mutable std::atomic<uint32_t> count_{0};
};

// Holds one reference to an intrusively counted object (anything with
// AddRef/Release). Copying adds a reference, destruction releases it.
template <class T>
class BrisqRef {
 public:
  BrisqRef() noexcept = default;
  BrisqRef(std::nullptr_t) noexcept {}
  // Takes a new reference to `object` (null allowed).
  explicit BrisqRef(T* object) noexcept : object_(object) {
    if (object_ != nullptr) object_->AddRef();
  }
  BrisqRef(const BrisqRef& other) noexcept : BrisqRef(other.object_) {}
  BrisqRef(BrisqRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ~BrisqRef() { Reset(); }

  BrisqRef& operator=(const BrisqRef& other) noexcept {
    BrisqRef copy(other);
    Swap(copy);
    return *this;
  }
  BrisqRef& operator=(BrisqRef&& other) noexcept {
    BrisqRef moved(std::move(other));
    Swap(moved);
    return *this;
  }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases the held reference (if any) and holds nothing.
  void Reset() noexcept {
    T* old = object_;
    object_ = nullptr;
    // Cleared before Release: the destructor of `old` may look at this owner.
    if (old != nullptr) old->Release();
  }

  void Swap(BrisqRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  T* object_ = nullptr;
};

// Creates a T and returns the first reference to it.
template <class T, class... Args>
BrisqRef<T> MakeBrisqRef(Args&&... args) {
  return BrisqRef<T>(new T(std::forward<Args>(args)...));
}

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_BRISQREFCOUNT_H
