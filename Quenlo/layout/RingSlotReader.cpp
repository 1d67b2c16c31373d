#include "Quenlo/layout/RingSlotReader.h"

#include <cstddef>
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

RingRead NothingToRead(MediaPacket* out) {
  std::memset(out, 0, sizeof(*out));
  RingRead nothing;
  nothing.status = RingRead::kNothingToRead;
  return nothing;
}

// The time stamp stored in the record of slot `k`.
uint64_t StoredTimestamp(const uint8_t* base, const RingHeader& header, int64_t k) {
  uint64_t stamp = 0;
  CopyFromShared(&stamp,
                 base + kRingHeaderSize + static_cast<uint64_t>(k) * header.slot_size +
                     offsetof(MediaPacket, timestamp),
                 sizeof(stamp));
  return stamp;
}

}  // namespace

RingRead ReadRingSlot(const uint8_t* base, size_t size, RingKind kind, int32_t* index,
                      MediaPacket* out, RingDelivery* delivered) {
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
  const bool video = kind == RingKind::kVideo;
  if (video && delivered != nullptr && delivered->slot >= 0 && last == delivered->slot &&
      static_cast<uint64_t>(delivered->slot) < header.slot_count &&
      StoredTimestamp(base, header, last) == delivered->timestamp) {
    return NothingToRead(out);  // no slot written since the last delivery
  }
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
    if (*index == (last + 1) % header.slot_count) return NothingToRead(out);
  }

  const int32_t slot_number = *index;
  const uint8_t* slot =
      base + kRingHeaderSize + static_cast<uint64_t>(slot_number) * header.slot_size;
  const uint8_t* payload = slot + kPacketRecordSize;
  const uint64_t capacity = header.slot_size - kPacketRecordSize;

  CopyFromShared(out, slot, kPacketRecordSize);
  for (uint8_t*& pointer : out->data) pointer = nullptr;
  if (video && delivered != nullptr && out->kind != MEDIA_PACKET_VIDEO) {
    // Never written: the ring was made but this slot holds no frame yet.
    if (synchronised_now) *index = -1;
    return NothingToRead(out);
  }
  *index = static_cast<int32_t>((static_cast<uint64_t>(slot_number) + 1) % header.slot_count);

  const bool audio = kind == RingKind::kAudio;
  // The slot holds at most `capacity` bytes, whatever the record says.
  if (audio && out->audio_bytes > capacity) out->audio_bytes = static_cast<uint32_t>(capacity);
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
    // The rows lie in the slot at the table's width, not at the stride of
    // the writer's source (a padded decoder frame would reach the host
    // sheared). Row widths fit: the frame has at most 1920 x 1080 pixels.
    out->linesize[p] = static_cast<int32_t>(plane.row_bytes);
    result.planes[p] =
        FormedPlane{payload + plane.offset, plane.row_bytes, plane.rows, plane.row_bytes};
  }
  result.plane_count = fit.planes.count;
  if (delivered != nullptr) *delivered = RingDelivery{slot_number, out->timestamp};
  return result;
}

}  // namespace Quenlo
