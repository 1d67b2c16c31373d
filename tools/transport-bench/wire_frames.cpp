#include "wire_frames.h"

#include <cstring>

namespace transport_bench {
namespace {

void PutU32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

size_t WireMessageSize(size_t payload) {
  return kWireHeaderSize + 4 + ((payload + 3) & ~static_cast<size_t>(3));
}

std::vector<uint8_t> BuildWireMessage(uint32_t type, size_t payload) {
  std::vector<uint8_t> bytes(WireMessageSize(payload), 0);
  PutU32(&bytes[0], static_cast<uint32_t>(bytes.size() - kWireHeaderSize));
  PutU32(&bytes[4], 0xFFFFFFFEu);  // routing -2
  PutU32(&bytes[8], type);
  PutU32(&bytes[12], 2);  // priority 2; no counter or process bits
  PutU32(&bytes[16], static_cast<uint32_t>(payload));
  for (size_t i = 0; i < payload; ++i) bytes[20 + i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

void WireMessageCounter::Feed(const uint8_t* data, size_t size) {
  bytes_ += size;
  while (size > 0) {
    if (remaining_ == 0) {
      // Collecting the payloadSize field of the next header.
      const size_t take = size < 4 - size_field_have_ ? size : 4 - size_field_have_;
      std::memcpy(size_field_ + size_field_have_, data, take);
      size_field_have_ += take;
      data += take;
      size -= take;
      if (size_field_have_ < 4) return;
      const uint64_t payload_size =
          static_cast<uint64_t>(size_field_[0]) | static_cast<uint64_t>(size_field_[1]) << 8 |
          static_cast<uint64_t>(size_field_[2]) << 16 | static_cast<uint64_t>(size_field_[3]) << 24;
      remaining_ = kWireHeaderSize - 4 + payload_size;
      size_field_have_ = 0;
      continue;
    }
    const size_t take = size < remaining_ ? size : static_cast<size_t>(remaining_);
    data += take;
    size -= take;
    remaining_ -= take;
    if (remaining_ == 0) ++messages_;
  }
}

}  // namespace transport_bench
