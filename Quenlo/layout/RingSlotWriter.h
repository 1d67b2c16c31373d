// RingSlotWriter.h - the writer's side of a ring: the header of a new ring,
// storing one packet into a slot and stepping to the next slot.
//
// The writer owns its slot index (0 to kRingSlotCount - 1); it never takes
// an index or a size from the shared header, which another process could
// change. One thread writes a ring at a time (the client's sending thread).
//
// Portable and pure.
#ifndef QUENLO_LAYOUT_RINGSLOTWRITER_H
#define QUENLO_LAYOUT_RINGSLOTWRITER_H

#include <cstdint>
#include <string>

#include "Quenlo/Quenlo.h"
#include "Quenlo/layout/RingLayout.h"

namespace Quenlo {

// Writes the header of a new ring of `kind` at `base` (kRingHeaderSize
// bytes): bytes 0-7 zero, slotSize, slotCount 3, info0/info1 (video: the
// packet's u32s at 28 and 32; audio: 1 and the packet's u32 at 16) and
// fillState 2. Bytes 16-23 and 36-47 are left as they are.
void WriteRingHeader(uint8_t* base, RingKind kind, const MediaPacket& first);

// Stores `packet` into the slot at `slot`, whose payload area (from slot
// offset 168) has `capacity` bytes: the 168-byte record as given, then the
// payload. Audio (kind 1): audio_bytes bytes from data[0]. Video (kind 2):
// each plane of the format's table, row by row from data[p] with stride
// linesize[p] into rows of the table's width, copying the smaller of the two
// widths per row; rows bottom-up when the table says flip.
//
// Returns the empty string on success. Otherwise returns the ERROR line and
// leaves the slot untouched: a kind other than 1 and 2
// ("Failed to SendPacket(invalid kind(<k>))"), a packet that does not fit
// (PacketFit.h), or a payload pointer that is null although bytes are to be
// copied from it ("Failed to SendPacket(missing plane data(<p>))",
// "Failed to SendPacket(missing audio data)"). Pointers and strides are the
// caller's: each plane must hold the rows its stride and the table describe.
std::string StorePacket(uint8_t* slot, uint64_t capacity, const MediaPacket& packet);

// Records a stored slot: ackRequested := `ack`, lastIndex := *index, then
// *index steps on; from the last slot it goes back to 0 and fillState
// becomes 4. *index must be 0 to kRingSlotCount - 1.
void CommitSlot(uint8_t* base, uint32_t ack, int32_t* index);

}  // namespace Quenlo

#endif  // QUENLO_LAYOUT_RINGSLOTWRITER_H
