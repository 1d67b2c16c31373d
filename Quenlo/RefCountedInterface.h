// RefCountedInterface.h - the IMSUnknown members shared by every object the
// library hands out (and by the test doubles that stand in for them).
//
// Usage:
//   class PipeClient final : public RefCountedInterface<PipeClient, IPipeClient> { ... };
//   PipeClient::PipeClient() : RefCountedInterface(1, IID_IPipeClient) {}
//
// AddRef and Release change the count atomically from any thread. The Release
// that reaches 0 calls Derived::OnLastRelease (a hook for a last log line;
// the default does nothing) and deletes the object as Derived. QueryInterface
// answers the identifier given at construction and IID_IMSUnknown with the object and one more
// reference (kQueryInterfaceOk), anything else with null and kNoInterface.
#ifndef QUENLO_REFCOUNTEDINTERFACE_H
#define QUENLO_REFCOUNTEDINTERFACE_H

#include <atomic>
#include <cstdint>

#include "Quenlo/Quenlo.h"

namespace Quenlo {

template <class Derived, class Interface>
class RefCountedInterface : public Interface {
 public:
  uint32_t AddRef() override { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }

  uint32_t Release() override {
    // acq_rel: every write made by other owners before their Release is
    // visible to the thread that deletes the object.
    const uint32_t remaining = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) {
      Derived* self = static_cast<Derived*>(this);
      self->OnLastRelease();
      delete self;
    }
    return remaining;
  }

  int32_t QueryInterface(const InterfaceId& iid, void** out) override {
    if (out == nullptr) return kNoInterface;
    if (IsSameInterfaceId(iid, interface_id_) || IsSameInterfaceId(iid, IID_IMSUnknown)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return kQueryInterfaceOk;
    }
    *out = nullptr;
    return kNoInterface;
  }

  // Runs in the Release that reaches 0, before the object is deleted.
  void OnLastRelease() {}

 protected:
  // `initial_count`: the references the object starts with; `interface_id`:
  // the identifier of `Interface`. (A copy, not a template argument: the
  // header's identifiers are constants of each translation unit.)
  RefCountedInterface(uint32_t initial_count, const InterfaceId& interface_id) noexcept
      : interface_id_(interface_id), count_(initial_count) {}
  ~RefCountedInterface() = default;

 private:
  const InterfaceId interface_id_;
  std::atomic<uint32_t> count_;
};

}  // namespace Quenlo

#endif  // QUENLO_REFCOUNTEDINTERFACE_H
