// wire_frames.h - the raw baseline's view of the pipe's framing: it writes
// messages of the same layout and size as the library's user messages
// (16-byte header, then one data blob: a 4-byte length and the bytes) and
// counts whole messages in the byte stream it reads. Portable.
#ifndef TRANSPORT_BENCH_WIRE_FRAMES_H
#define TRANSPORT_BENCH_WIRE_FRAMES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace transport_bench {

constexpr size_t kWireHeaderSize = 16;

// Bytes on the wire of a user message carrying `payload` bytes: header,
// blob length and the payload padded to a multiple of 4.
size_t WireMessageSize(size_t payload);

// One user message of `type` whose blob is `payload` bytes of a fixed
// pattern: payloadSize, routing -2, type, flags 2, blob length, bytes,
// zero padding.
std::vector<uint8_t> BuildWireMessage(uint32_t type, size_t payload);

// Counts whole messages in a byte stream fed in arbitrary pieces, by the
// payloadSize of each header. Not thread-safe; one reader owns it.
class WireMessageCounter {
 public:
  // Takes the next `size` bytes of the stream.
  void Feed(const uint8_t* data, size_t size);
  // Messages whose last byte has been fed.
  uint64_t messages() const { return messages_; }
  // All bytes fed so far.
  uint64_t bytes() const { return bytes_; }

 private:
  uint8_t size_field_[4] = {0, 0, 0, 0};
  size_t size_field_have_ = 0;  // bytes of the current payloadSize collected
  uint64_t remaining_ = 0;      // bytes of the current message after payloadSize
  uint64_t messages_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_WIRE_FRAMES_H
