// Feeds arbitrary bytes to the ring reader as if they were a mapping written
// by a hostile process, and checks that every pointer it forms, read the way
// the host reads it (rows at the stored stride), lies inside the mapping.
// Then stores the fuzzed record with the writer into a fresh ring and checks
// that the reader takes back whatever the writer accepted.
//
// Input: byte 0 chooses the ring kind (bit 0) and the reader's first index
// (bits 1-3, minus 1); the rest is the mapping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/RingSlotReader.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace {

using Quenlo::RingKind;
using Quenlo::RingRead;

void Check(bool ok) {
  if (!ok) std::abort();
}

volatile uint32_t g_sink;

// Reads every byte the host could read through `plane`, so that ASan sees a
// range that leaves the buffer.
void Touch(const Quenlo::FormedPlane& plane) {
  uint32_t sum = 0;
  const uint64_t reach = plane.Reach();
  for (uint64_t i = 0; i < reach; ++i) sum += plane.begin[i];
  g_sink = sum;
}

void ReadHostileMapping(const uint8_t* base, size_t size, RingKind kind, int32_t index) {
  const size_t max_slots = size >= Quenlo::kRingHeaderSize
                               ? (size - Quenlo::kRingHeaderSize) / Quenlo::kPacketRecordSize
                               : 0;
  for (int round = 0; round < 4; ++round) {
    MediaPacket out;
    const RingRead r = Quenlo::ReadRingSlot(base, size, kind, &index, &out);
    Check(index == -1 || (index >= 0 && static_cast<size_t>(index) < max_slots));
    if (r.status != RingRead::kRead) {
      Check(r.plane_count == 0);
      for (uint8_t* d : out.data) Check(d == nullptr);
      continue;
    }
    Check(r.plane_count <= Quenlo::kMaxVideoPlanes);
    for (uint32_t p = 0; p < 8; ++p) {
      if (p >= r.plane_count) {
        Check(out.data[p] == nullptr);
        continue;
      }
      const Quenlo::FormedPlane& plane = r.planes[p];
      Check(out.data[p] == plane.begin);
      Check(plane.begin >= base + Quenlo::kRingHeaderSize + Quenlo::kPacketRecordSize);
      const uint64_t offset = static_cast<uint64_t>(plane.begin - base);
      Check(offset <= size && plane.Reach() <= size - offset);
      if (kind == RingKind::kVideo) Check(plane.stride == static_cast<uint64_t>(out.linesize[p]));
      Touch(plane);
    }
  }
}

// What the writer accepts, the reader must read back unchanged.
void RoundTrip(const uint8_t* data, size_t size) {
  if (size < Quenlo::kPacketRecordSize + 2) return;
  MediaPacket packet;
  std::memcpy(&packet, data, sizeof(packet));
  const uint32_t capacity =
      (static_cast<uint32_t>(data[sizeof(packet)]) << 8 | data[sizeof(packet) + 1]) & 0x3FFF;
  const RingKind kind = packet.kind == MEDIA_PACKET_AUDIO ? RingKind::kAudio : RingKind::kVideo;
  // Every plane reads at most `capacity` bytes from its source: the writer
  // refuses strides and rows that would reach further in the slot.
  std::vector<uint8_t> source(capacity + 1, 0x3C);
  for (uint8_t*& d : packet.data) d = source.data();

  const uint32_t slot_size = Quenlo::kPacketRecordSize + capacity;
  std::vector<uint8_t> ring(Quenlo::kRingHeaderSize + Quenlo::kRingSlotCount * slot_size, 0);
  Quenlo::WriteRingHeader(ring.data(), kind, packet);
  Quenlo::StoreU32(ring.data() + Quenlo::kHeaderSlotSize, slot_size);
  uint8_t* slot = ring.data() + Quenlo::kRingHeaderSize;
  if (!Quenlo::StorePacket(slot, capacity, packet).empty()) return;
  int32_t writer = 0;
  Quenlo::CommitSlot(ring.data(), 1, &writer);

  int32_t index = -1;
  MediaPacket out;
  const RingRead r = Quenlo::ReadRingSlot(ring.data(), ring.size(), kind, &index, &out);
  Check(r.status == RingRead::kRead);
  Check(std::memcmp(&out, &packet, offsetof(MediaPacket, data)) == 0);
  // Strides of the planes formed are their row widths in the slot; the
  // rest of the record is as the writer gave it.
  for (uint32_t p = 0; p < 8; ++p) {
    Check(p < r.plane_count && kind == RingKind::kVideo
              ? static_cast<uint64_t>(out.linesize[p]) == r.planes[p].row_bytes
              : out.linesize[p] == packet.linesize[p]);
  }
  const size_t after_strides = offsetof(MediaPacket, linesize) + sizeof(packet.linesize);
  Check(std::memcmp(reinterpret_cast<const uint8_t*>(&out) + after_strides,
                    reinterpret_cast<const uint8_t*>(&packet) + after_strides,
                    Quenlo::kPacketRecordSize - after_strides) == 0);
  for (uint32_t p = 0; p < r.plane_count; ++p) Touch(r.planes[p]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const RingKind kind = (data[0] & 1) ? RingKind::kAudio : RingKind::kVideo;
  const int32_t index = static_cast<int32_t>((data[0] >> 1) & 7) - 1;
  // A copy of exactly the mapping's size, so that ASan flags one byte past it.
  std::vector<uint8_t> mapping(data + 1, data + size);
  ReadHostileMapping(mapping.data(), mapping.size(), kind, index);
  RoundTrip(data + 1, size - 1);
  return 0;
}
