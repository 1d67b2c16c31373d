// RingSlotReader.h - the reader's side of a ring: taking the next packet out
// of a mapping that another process writes.
//
// Nothing read from the mapping is trusted. The header and the slot's record
// are copied once; slotSize and slotCount must describe slots that lie inside
// the mapping, the index must name one of them, and the record's video
// payload (width, height, format and strides) must fit the slot's payload
// area (PacketFit.h); an audio size beyond it is clamped to it. Only then
// are pointers into the mapping formed, so no value a writer stores can
// point the host outside the mapping.
//
// Index rules (the index lives in the reader, -1 until synchronised):
// - A reader at -1 starts at lastIndex (plus slotCount when negative), the
//   slot written last.
// - Video reads the slot its index names on every call; the writer never
//   waits, so a reader far behind sees slots that were overwritten.
// - Audio has something to read unless the reader has already read the slot
//   named by lastIndex, that is unless its index equals lastIndex + 1
//   (modulo slotCount). The writer releases the semaphore once per stored
//   slot and waits for the acknowledgement, so each audio slot is read
//   exactly once and at once, and a fresh reader takes the newest slot. (A
//   reader that treated index == lastIndex as "nothing new" would hold every
//   packet back until the next one was written, and the writer's wait for
//   the acknowledgement would time out every time.)
// - A slot whose record does not fit is skipped: the index still steps on.
//   A header whose geometry or lastIndex is impossible changes nothing but
//   a reader index that no longer names a slot, which goes back to -1.
//
// Portable and pure.
#ifndef QUENLO_LAYOUT_RINGSLOTREADER_H
#define QUENLO_LAYOUT_RINGSLOTREADER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "Quenlo/Quenlo.h"
#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/VideoPlanes.h"

namespace Quenlo {

// One pointer the reader formed and how the host may read through it:
// `rows` rows of `row_bytes` bytes, `stride` bytes apart.
struct FormedPlane {
  const uint8_t* begin = nullptr;
  uint64_t row_bytes = 0;
  uint64_t rows = 0;
  uint64_t stride = 0;

  // Bytes from `begin` that such a read can touch.
  uint64_t Reach() const { return PlaneReach(VideoPlane{0, row_bytes, rows}, stride); }
};

// What a video reader delivered last: the slot and the time stamp its
// record carried. -1 until the first delivery.
struct RingDelivery {
  int32_t slot = -1;
  uint64_t timestamp = 0;
};

struct RingRead {
  enum Status {
    kRead,           // *out holds the packet with pointers into the mapping
    kNothingToRead,  // audio: every written slot was read already; video:
                     // nothing was written since the last delivery
    kRejected,       // `error` holds the ERROR line; *out is zeroed
  };
  Status status = kRejected;
  std::string error;
  int32_t slot = -1;         // the slot read or skipped; -1 when none was
  uint32_t plane_count = 0;  // kRead: the data pointers formed, in order
  FormedPlane planes[kMaxVideoPlanes];
};

// Reads from the mapping of `size` bytes at `base` the slot that `*index`
// names (see the index rules above) and copies its record into *out. For
// video, data[0..3] point at the planes of the format's table (as many as
// it has) and linesize[0..3] give the planes' row widths in the slot (the
// rows as they lie there, whatever stride the writer's source had); for
// audio, data[0] points at the payload, and a size above the slot's payload
// area is clamped to it (a writer may truncate what does not fit). Every
// other data pointer is null: the stored ones are the writer's own
// addresses. All other fields are those stored.
//
// `delivered` (video; may be null) is what this reader delivered last, kept
// up to date here. With it, a video read delivers a slot only when one was
// written since that delivery: a wake-up without a write (the one a client
// gives its reader when it goes away) finds lastIndex still naming the
// delivered slot, with the same time stamp, and yields kNothingToRead. A
// slot never written (its record's kind is not video) is not delivered
// either; a reader that synchronised on it stays at -1.
//
// ERROR lines of refused reads:
//   "Failed to ReadPacket(invalid ring header(<slotSize>,<slotCount>,<size>))"
//   "Failed to ReadPacket(invalid lastIndex(<lastIndex>,<slotCount>))"
//   "Failed to ReadPacket(invalid index(<index>,<slotCount>))"
//   and the texts of DescribePacketFit with the operation "ReadPacket".
RingRead ReadRingSlot(const uint8_t* base, size_t size, RingKind kind, int32_t* index,
                      MediaPacket* out, RingDelivery* delivered = nullptr);

}  // namespace Quenlo

#endif  // QUENLO_LAYOUT_RINGSLOTREADER_H
