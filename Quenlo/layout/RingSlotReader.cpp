#include "Quenlo/layout/RingSlotReader.h"

#include <cstring>
#include <string>
#include <utility>

#include "Quenlo/layout/PacketFit.h"

namespace Quenlo {
namespace {

RingRead Reject(std::string error, MediaPacket* out) {
  std::memset(out, 0, sizeof(*out));
  RingRead result;
  result.status = RingRead::kRejected;
  result.error = std::move(error);
  return result;
}

// lastIndex as a slot number (negative values count from the end), or -1
// when it names no slot.
int64_t NormalizedLastIndex(const RingHeader& header) {
  int64_t last = header.last_index;
  if (last < 0) last += header.slot_count;
  if (last < 0 || last >= static_cast<int64_t>(header.slot_count)) return -1;
  return last;
}

std::string LastIndexError(const RingHeader& header) {
  return "Failed to ReadPacket(invalid lastIndex(" + std::to_string(header.last_index) + "," +
         std::to_string(header.slot_count) + "))";
}

}  // namespace

RingRead ReadRingSlot(const uint8_t* base, size_t size, RingKind kind, int32_t* index,
                      MediaPacket* out) {
  RingHeader header;
  if (size >= kRingHeaderSize) header = LoadRingHeader(base);
  const uint64_t slots_end =
      SaturatingAdd(kRingHeaderSize, SaturatingMul(header.slot_count, header.slot_size));
  if (size < kRingHeaderSize || header.slot_count == 0 || header.slot_size < kPacketRecordSize ||
      slots_end > size) {
    if (*index >= 0) *index = -1;
    return Reject("Failed to ReadPacket(invalid ring header(" + std::to_string(header.slot_size) +
                      "," + std::to_string(header.slot_count) + "," + std::to_string(size) + "))",
                  out);
  }

  const int64_t last = NormalizedLastIndex(header);
  bool synchronised_now = false;
  if (*index < 0) {
    if (last < 0) return Reject(LastIndexError(header), out);
    *index = static_cast<int32_t>(last);
    synchronised_now = true;
  } else if (static_cast<uint64_t>(*index) >= header.slot_count) {
    const int32_t stale = *index;
    *index = -1;
    return Reject("Failed to ReadPacket(invalid index(" + std::to_string(stale) + "," +
                      std::to_string(header.slot_count) + "))",
                  out);
  }

  if (kind == RingKind::kAudio && !synchronised_now) {
    if (last < 0) return Reject(LastIndexError(header), out);
    if (*index == (last + 1) % header.slot_count) {
      std::memset(out, 0, sizeof(*out));
      RingRead nothing;
      nothing.status = RingRead::kNothingToRead;
      return nothing;
    }
  }

  const int32_t slot_number = *index;
  *index = static_cast<int32_t>((static_cast<uint64_t>(slot_number) + 1) % header.slot_count);

  const uint8_t* slot =
      base + kRingHeaderSize + static_cast<uint64_t>(slot_number) * header.slot_size;
  const uint8_t* payload = slot + kPacketRecordSize;
  const uint64_t capacity = header.slot_size - kPacketRecordSize;

  CopyFromShared(out, slot, kPacketRecordSize);
  for (uint8_t*& pointer : out->data) pointer = nullptr;

  const bool audio = kind == RingKind::kAudio;
  const PacketFit fit = CheckPacketFit(*out, audio, capacity);
  if (fit.status != PacketFitStatus::kFits) {
    RingRead skipped = Reject(DescribePacketFit("ReadPacket", *out, audio, capacity, fit), out);
    skipped.slot = slot_number;
    return skipped;
  }

  RingRead result;
  result.status = RingRead::kRead;
  result.slot = slot_number;
  if (audio) {
    out->data[0] = const_cast<uint8_t*>(payload);
    result.plane_count = 1;
    result.planes[0] = FormedPlane{payload, out->audio_bytes, 1, 0};
    return result;
  }
  for (uint32_t p = 0; p < fit.planes.count; ++p) {
    const VideoPlane& plane = fit.planes.plane[p];
    out->data[p] = const_cast<uint8_t*>(payload + plane.offset);
    result.planes[p] = FormedPlane{payload + plane.offset, plane.row_bytes, plane.rows,
                                   static_cast<uint64_t>(out->linesize[p])};
  }
  result.plane_count = fit.planes.count;
  return result;
}

}  // namespace Quenlo
