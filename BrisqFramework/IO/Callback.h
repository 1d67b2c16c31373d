// Callback.h - closures of the framework: callables without arguments and
// without a result, cheap to copy (a shared, reference-counted invoker).
#ifndef BRISQFRAMEWORK_IO_CALLBACK_H
#define BRISQFRAMEWORK_IO_CALLBACK_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

namespace BrisqFramework {
namespace IO {

// What a Callback shares: the bound callable and an atomic reference count.
// Copies of a Callback share one storage; the last one to go deletes it.
class InvokerStorageBase {
 public:
  InvokerStorageBase(const InvokerStorageBase&) = delete;
  InvokerStorageBase& operator=(const InvokerStorageBase&) = delete;

  void AddRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  virtual void Run() const = 0;
  // True when both storages call the same thing on the same object.
  virtual bool Equals(const InvokerStorageBase& other) const noexcept = 0;

 protected:
  InvokerStorageBase() = default;
  virtual ~InvokerStorageBase() = default;

 private:
  mutable std::atomic<int32_t> refs_{0};
};

// A member function without arguments bound to an object pointer. The object
// is not owned: it must outlive every run of the callback.
template <class T>
class BinaryInvokerStorage final : public InvokerStorageBase {
 public:
  using Method = void (T::*)();
  BinaryInvokerStorage(T* object, Method method) : object_(object), method_(method) {}

  void Run() const override { (object_->*method_)(); }
  bool Equals(const InvokerStorageBase& other) const noexcept override {
    const auto* same = dynamic_cast<const BinaryInvokerStorage*>(&other);
    return same != nullptr && same->object_ == object_ && same->method_ == method_;
  }

 private:
  T* object_;
  Method method_;
};

// Any standard function object; equal only to itself (and its copies).
class FunctionInvokerStorage final : public InvokerStorageBase {
 public:
  explicit FunctionInvokerStorage(std::function<void()> function)
      : function_(std::move(function)) {}

  void Run() const override {
    if (function_) function_();
  }
  bool Equals(const InvokerStorageBase& other) const noexcept override { return &other == this; }

 private:
  std::function<void()> function_;
};

class Callback {
 public:
  // The null callback: running it does nothing.
  Callback() noexcept = default;

  // `method` of `object`; `object` is not owned.
  template <class T>
  Callback(T* object, void (T::*method)())
      : Callback(static_cast<InvokerStorageBase*>(new BinaryInvokerStorage<T>(object, method))) {}

  // Any callable of signature void(); an empty function gives a null callback.
  template <class F,
            class = std::enable_if_t<!std::is_same<std::decay_t<F>, Callback>::value &&
                                     std::is_constructible<std::function<void()>, F>::value>>
  Callback(F&& function)  // NOLINT: implicit on purpose, like std::function
      : Callback(MakeFunctionStorage(std::function<void()>(std::forward<F>(function)))) {}

  Callback(const Callback& other) noexcept : storage_(other.storage_) {
    if (storage_ != nullptr) storage_->AddRef();
  }
  Callback(Callback&& other) noexcept : storage_(std::exchange(other.storage_, nullptr)) {}
  Callback& operator=(Callback other) noexcept {
    std::swap(storage_, other.storage_);
    return *this;
  }
  ~Callback() {
    if (storage_ != nullptr) storage_->Release();
  }

  bool IsNull() const noexcept { return storage_ == nullptr; }
  explicit operator bool() const noexcept { return !IsNull(); }

  // Runs the bound callable on the calling thread; nothing for a null callback.
  void Run() const {
    if (storage_ != nullptr) storage_->Run();
  }
  void operator()() const { Run(); }

  // Two null callbacks are equal; bound member functions are equal when they
  // bind the same object and the same member function.
  bool Equals(const Callback& other) const noexcept {
    if (storage_ == nullptr || other.storage_ == nullptr) return storage_ == other.storage_;
    return storage_->Equals(*other.storage_);
  }
  friend bool operator==(const Callback& a, const Callback& b) noexcept { return a.Equals(b); }
  friend bool operator!=(const Callback& a, const Callback& b) noexcept { return !a.Equals(b); }

 private:
  explicit Callback(InvokerStorageBase* storage) noexcept : storage_(storage) {
    if (storage_ != nullptr) storage_->AddRef();
  }
  static InvokerStorageBase* MakeFunctionStorage(std::function<void()> function) {
    return function ? new FunctionInvokerStorage(std::move(function)) : nullptr;
  }

  InvokerStorageBase* storage_ = nullptr;  // one reference held by this object
};

}  // namespace IO
}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_CALLBACK_H
