#pragma once

#include <cstddef>
#include <cstdint>

#include "Quenlo/message/Pickle.h"

namespace Ravoque {

// One framed message of the pipe: a Pickle whose header is the 16-byte
// message header (all fields little-endian):
//
//   offset 0  u32 payloadSize  payload bytes after the header
//   offset 4  i32 routing      -2 for every message built here
//   offset 8  u32 type         chosen by the sender; 65533..65535 reserved
//   offset 12 u32 flags        priority 2 | counter bits 8-21 | pid bits 22-31
//
// Messages follow one another on the pipe with nothing in between; a
// message's size on the wire is 16 + payloadSize.
class IPCMessage : public Pickle {
 public:
  static constexpr std::size_t kHeaderSize = 16;
  static constexpr int32_t kRoutingNone = -2;
  static constexpr uint32_t kPriority = 2;

  // Reserved types: with routing -2 the channel consumes them itself.
  static constexpr uint32_t kTypeHello = 0xFFFF;     // payload: sender's pid
  static constexpr uint32_t kTypeInternal = 0xFFFE;  // payload: one int32
  static constexpr uint32_t kTypeIgnored = 0xFFFD;   // payload: anything

  // Writable message of `type` with an empty payload, routing -2 and fresh
  // flags (see MakeFlags). Each construction takes the next value of the
  // process-wide message counter; safe on any thread.
  explicit IPCMessage(uint32_t type);

  // Read-only view over `length` bytes holding one whole message, e.g. as
  // delimited by FindNext. Nothing is copied; the bytes must outlive the
  // view. Besides the Pickle rules the view is invalid (Data() null, sizes
  // and fields 0) when its header is shorter than 16 bytes.
  IPCMessage(const void* data, std::size_t length);

  ~IPCMessage() override;

  // Header fields; 0 for an invalid view.
  int32_t Routing() const noexcept;
  uint32_t Type() const noexcept;
  uint32_t Flags() const noexcept;

  // What FindNext learned about the bytes it looked at.
  struct FrameInfo {
    // 16 + the announced payloadSize once a whole header is present,
    // else 0; reported also when the message is not complete yet.
    // 64 bits wide so that no announced size can wrap.
    uint64_t messageSize = 0;
    // Just past the message when one was found, else null.
    const char* messageEnd = nullptr;
  };

  // True when [start, end) begins with one whole message; `info` is reset
  // first and then filled as described above. A null or reversed range
  // holds no message.
  static bool FindNext(const char* start, const char* end, FrameInfo* info) noexcept;

  // flags = ((pid << 14) | (counter & 0x3FFF)) << 8 | 2, in 32-bit
  // arithmetic (bits shifted out are lost).
  static uint32_t MakeFlags(uint32_t processId, uint32_t counter) noexcept;

  // This process's id (GetCurrentProcessId on Windows, getpid elsewhere).
  static uint32_t CurrentProcessId() noexcept;
};

}  // namespace Ravoque
