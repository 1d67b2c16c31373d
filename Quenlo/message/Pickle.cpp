#include "Quenlo/message/Pickle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace Ravoque {
namespace {

constexpr std::size_t kFieldAlignment = 4;
constexpr std::size_t kCapacityUnit = 64;
constexpr std::size_t kPageSize = 4096;

// Callers keep `value` far enough below SIZE_MAX that this cannot wrap.
constexpr std::size_t RoundUp(std::size_t value, std::size_t unit) {
  return (value + unit - 1) / unit * unit;
}

// The capacity never needs to exceed the largest payload, rounded to a unit;
// capping the doubling there keeps every size computation below in range,
// also where size_t has 32 bits.
constexpr std::size_t kMaxCapacity = RoundUp(Pickle::kMaxPayloadSize, kCapacityUnit);

}  // namespace

uint32_t LoadLE32(const void* p) noexcept {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void StoreLE32(void* p, uint32_t value) noexcept {
  unsigned char* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(value);
  b[1] = static_cast<unsigned char>(value >> 8);
  b[2] = static_cast<unsigned char>(value >> 16);
  b[3] = static_cast<unsigned char>(value >> 24);
}

void Pickle::FreeDeleter::operator()(char* p) const noexcept { std::free(p); }

Pickle::Pickle(std::size_t headerSize)
    : header_size_(std::max(RoundUp(headerSize, kFieldAlignment), kFieldAlignment)) {
  char* buffer = static_cast<char*>(std::malloc(header_size_ + kInitialCapacity));
  if (buffer == nullptr) {
    // Behaves as an invalid pickle: empty, and every write is refused.
    header_size_ = 0;
    capacity_ = kCapacityReadOnly;
    return;
  }
  owned_.reset(buffer);
  header_ = buffer;
  capacity_ = kInitialCapacity;
  std::memset(buffer, 0, header_size_);  // payloadSize 0, unused fields 0
}

Pickle::Pickle(const void* data, std::size_t length) : capacity_(kCapacityReadOnly) {
  if (data == nullptr || length < sizeof(uint32_t)) return;
  const std::size_t payloadSize = LoadLE32(data);
  if (payloadSize >= length) return;  // header size would be 0 or wrap
  const std::size_t headerSize = length - payloadSize;
  if (headerSize % kFieldAlignment != 0) return;
  header_ = static_cast<const char*>(data);
  header_size_ = headerSize;
}

Pickle::~Pickle() = default;

std::size_t Pickle::PayloadSize() const noexcept {
  return header_ != nullptr ? LoadLE32(header_) : 0;
}

const char* Pickle::Payload() const noexcept {
  return header_ != nullptr ? header_ + header_size_ : nullptr;
}

void Pickle::Invalidate() noexcept {
  header_ = nullptr;
  header_size_ = 0;
}

void Pickle::SetPayloadSize(std::size_t size) noexcept {
  StoreLE32(owned_.get(), static_cast<uint32_t>(size));
}

bool Pickle::Grow(std::size_t newCapacity) {
  const std::size_t capacity = RoundUp(newCapacity, kCapacityUnit);
  char* grown = static_cast<char*>(std::realloc(owned_.get(), header_size_ + capacity));
  if (grown == nullptr) return false;  // the old buffer is still ours, unchanged
  (void)owned_.release();
  owned_.reset(grown);
  header_ = grown;
  capacity_ = capacity;
  return true;
}

char* Pickle::ClaimBytes(std::size_t length) {
  if (IsReadOnly() || length > kMaxPayloadSize) return nullptr;
  const std::size_t padded = RoundUp(length, kFieldAlignment);
  if (padded > kMaxPayloadSize - write_offset_) return nullptr;
  const std::size_t newSize = write_offset_ + padded;

  if (newSize > capacity_) {
    // Double small buffers; past a page keep the capacity one unit short
    // of a multiple of the page size.
    std::size_t candidate = capacity_ > kMaxCapacity / 2 ? kMaxCapacity : capacity_ * 2;
    if (candidate > kPageSize) {
      candidate = std::min(RoundUp(candidate, kPageSize) - kCapacityUnit, kMaxCapacity);
    }
    if (!Grow(std::max(candidate, newSize))) return nullptr;
  }

  char* out = owned_.get() + header_size_ + write_offset_;
  std::memset(out + length, 0, padded - length);
  write_offset_ = newSize;
  SetPayloadSize(newSize);
  return out;
}

bool Pickle::WriteInt(int32_t value) {
  char* out = ClaimBytes(sizeof(value));
  if (out == nullptr) return false;
  StoreLE32(out, static_cast<uint32_t>(value));
  return true;
}

bool Pickle::WriteBytes(const void* data, std::size_t length) {
  if (data == nullptr && length != 0) return false;
  char* out = ClaimBytes(length);
  if (out == nullptr) return false;
  if (length != 0) std::memcpy(out, data, length);
  return true;
}

bool Pickle::WriteData(const void* data, std::size_t length) {
  if (length > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return false;
  if (data == nullptr && length != 0) return false;
  // One claim for length and bytes, so a refused write leaves nothing behind.
  char* out = ClaimBytes(sizeof(int32_t) + length);
  if (out == nullptr) return false;
  StoreLE32(out, static_cast<uint32_t>(length));
  if (length != 0) std::memcpy(out + sizeof(int32_t), data, length);
  return true;
}

}  // namespace Ravoque
