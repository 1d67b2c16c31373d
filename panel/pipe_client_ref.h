#pragma once

#include <utility>

#include "Quenlo/Quenlo.h"

namespace tessaly {

// Holds one reference to the library's pipe client and releases it when it
// goes away. The caller must call Destroy on the client before the last
// reference is released (the library's contract); the panel does that at
// shutdown, then resets this owner explicitly.
class PipeClientRef {
 public:
  PipeClientRef() noexcept = default;
  // Takes over a reference the caller already holds.
  explicit PipeClientRef(Quenlo::IPipeClient* client) noexcept : client_(client) {}
  PipeClientRef(PipeClientRef&& other) noexcept : client_(std::exchange(other.client_, nullptr)) {}
  PipeClientRef& operator=(PipeClientRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.client_, nullptr));
    return *this;
  }
  PipeClientRef(const PipeClientRef&) = delete;
  PipeClientRef& operator=(const PipeClientRef&) = delete;
  ~PipeClientRef() { reset(); }

  Quenlo::IPipeClient* get() const noexcept { return client_; }
  Quenlo::IPipeClient* operator->() const noexcept { return client_; }
  explicit operator bool() const noexcept { return client_ != nullptr; }

  // Releases the held reference (if any) and takes over `client`.
  void reset(Quenlo::IPipeClient* client = nullptr) noexcept {
    Quenlo::IPipeClient* old = std::exchange(client_, client);
    if (old != nullptr) old->Release();
  }

 private:
  Quenlo::IPipeClient* client_ = nullptr;
};

}  // namespace tessaly
