// RingLayout.h - the byte layout of the shared-memory media rings: sizes,
// the 48-byte header and the reads and writes of its little-endian fields.
//
// A ring mapping is a 48-byte header at offset 0 followed by slots; slot k
// starts at 48 + k * slotSize and holds the 168-byte MediaPacket record, then
// the payload at slot offset 168. The writer (pipe client) uses three slots
// of a mapping that has room for four.
//
// Everything in a ring is written by another process and may change at any
// moment. Readers take a copy first (LoadRingHeader, CopyFromShared) and
// check and use only that copy, never the live bytes a second time.
//
// Portable and pure: no Windows API.
#ifndef QUENLO_LAYOUT_RINGLAYOUT_H
#define QUENLO_LAYOUT_RINGLAYOUT_H

#include <cstddef>
#include <cstdint>

namespace Quenlo {

enum class RingKind { kAudio, kVideo };

constexpr uint32_t kRingHeaderSize = 48;
constexpr uint32_t kPacketRecordSize = 168;  // sizeof(MediaPacket)
constexpr uint32_t kRingSlotCount = 3;       // slots the writer uses
constexpr uint32_t kRingSlotRoom = 4;        // slots the mapping has room for

constexpr uint32_t kMaxVideoPixels = 1920u * 1080u;                         // 2073600
constexpr uint32_t kVideoPayloadSize = kMaxVideoPixels * 4u;                // 8294400
constexpr uint32_t kVideoSlotSize = kPacketRecordSize + kVideoPayloadSize;  // 8294568
constexpr uint32_t kVideoMappingSize = kRingHeaderSize + kRingSlotRoom * kVideoSlotSize;

constexpr uint32_t kAudioPayloadSize = 122880;
constexpr uint32_t kAudioSlotSize = kPacketRecordSize + kAudioPayloadSize;  // 123048
constexpr uint32_t kAudioMappingSize = kRingHeaderSize + kRingSlotRoom * kAudioSlotSize;

static_assert(kVideoMappingSize == 33178320u, "video mapping size");
static_assert(kAudioMappingSize == 492240u, "audio mapping size");

// Header field offsets (all u32 except lastIndex, an i32).
constexpr size_t kHeaderLastIndex = 4;
constexpr size_t kHeaderSlotSize = 8;
constexpr size_t kHeaderSlotCount = 12;
constexpr size_t kHeaderInfo0 = 24;
constexpr size_t kHeaderInfo1 = 28;
constexpr size_t kHeaderFillState = 32;
constexpr size_t kHeaderAckRequested = 36;

constexpr uint32_t kFillStateCreated = 2;  // no wrap yet
constexpr uint32_t kFillStateWrapped = 4;  // the writer went from the last slot to slot 0

// Slot size and mapping size of a ring kind.
constexpr uint32_t RingSlotSize(RingKind kind) {
  return kind == RingKind::kVideo ? kVideoSlotSize : kAudioSlotSize;
}
constexpr uint32_t RingMappingSize(RingKind kind) {
  return kind == RingKind::kVideo ? kVideoMappingSize : kAudioMappingSize;
}

// Copies `size` bytes out of memory another process may be writing. Every
// byte is read exactly once, so the copy is a snapshot the compiler cannot
// silently re-read from the shared memory later.
inline void CopyFromShared(void* destination, const uint8_t* shared, size_t size) {
  const volatile uint8_t* in = shared;
  uint8_t* out = static_cast<uint8_t*>(destination);
  for (size_t i = 0; i < size; ++i) out[i] = in[i];
}

// Little-endian u32 at `p` (any alignment).
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreU32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

// A snapshot of the header fields.
struct RingHeader {
  int32_t last_index = 0;
  uint32_t slot_size = 0;
  uint32_t slot_count = 0;
  uint32_t info0 = 0;
  uint32_t info1 = 0;
  uint32_t fill_state = 0;
  uint32_t ack_requested = 0;
};

// Reads the header at `base` (at least kRingHeaderSize bytes) once.
inline RingHeader LoadRingHeader(const uint8_t* base) {
  uint8_t bytes[kRingHeaderSize];
  CopyFromShared(bytes, base, sizeof(bytes));
  RingHeader h;
  h.last_index = static_cast<int32_t>(LoadU32(bytes + kHeaderLastIndex));
  h.slot_size = LoadU32(bytes + kHeaderSlotSize);
  h.slot_count = LoadU32(bytes + kHeaderSlotCount);
  h.info0 = LoadU32(bytes + kHeaderInfo0);
  h.info1 = LoadU32(bytes + kHeaderInfo1);
  h.fill_state = LoadU32(bytes + kHeaderFillState);
  h.ack_requested = LoadU32(bytes + kHeaderAckRequested);
  return h;
}

}  // namespace Quenlo

#endif  // QUENLO_LAYOUT_RINGLAYOUT_H
