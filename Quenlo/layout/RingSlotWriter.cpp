#include "Quenlo/layout/RingSlotWriter.h"

#include <cstring>

#include "Quenlo/layout/PacketFit.h"

namespace Quenlo {
namespace {

// Bytes copied per row: the slot's row width, or less when the source rows
// are shorter.
uint64_t CopyWidth(const VideoPlane& plane, int32_t stride) {
  const uint64_t s = static_cast<uint64_t>(stride);  // non-negative after CheckPacketFit
  return s < plane.row_bytes ? s : plane.row_bytes;
}

void CopyPlane(uint8_t* payload, const VideoPlane& plane, bool flip, const uint8_t* source,
               int32_t stride) {
  const uint64_t width = CopyWidth(plane, stride);
  if (plane.rows == 0 || width == 0) return;
  uint8_t* destination = payload + plane.offset;
  const uint64_t source_stride = static_cast<uint64_t>(stride);
  if (!flip && source_stride == plane.row_bytes) {
    std::memcpy(destination, source, plane.rows * plane.row_bytes);
    return;
  }
  for (uint64_t i = 0; i < plane.rows; ++i) {
    const uint64_t row = flip ? plane.rows - 1 - i : i;
    std::memcpy(destination + row * plane.row_bytes, source + i * source_stride, width);
  }
}

}  // namespace

void WriteRingHeader(uint8_t* base, RingKind kind, const MediaPacket& first) {
  StoreU32(base + 0, 0);
  StoreU32(base + kHeaderLastIndex, 0);
  StoreU32(base + kHeaderSlotSize, RingSlotSize(kind));
  StoreU32(base + kHeaderSlotCount, kRingSlotCount);
  if (kind == RingKind::kVideo) {
    StoreU32(base + kHeaderInfo0, first.video_info0);
    StoreU32(base + kHeaderInfo1, first.video_info1);
  } else {
    StoreU32(base + kHeaderInfo0, 1);
    StoreU32(base + kHeaderInfo1, first.width);
  }
  StoreU32(base + kHeaderFillState, kFillStateCreated);
}

std::string StorePacket(uint8_t* slot, uint64_t capacity, const MediaPacket& packet) {
  if (packet.kind != MEDIA_PACKET_AUDIO && packet.kind != MEDIA_PACKET_VIDEO) {
    return "Failed to SendPacket(invalid kind(" +
           std::to_string(static_cast<int32_t>(packet.kind)) + "))";
  }
  const bool audio = packet.kind == MEDIA_PACKET_AUDIO;
  const PacketFit fit = CheckPacketFit(packet, audio, capacity);
  if (fit.status != PacketFitStatus::kFits) {
    return DescribePacketFit("SendPacket", packet, audio, capacity, fit);
  }
  if (audio) {
    if (packet.audio_bytes != 0 && packet.data[0] == nullptr) {
      return "Failed to SendPacket(missing audio data)";
    }
  } else {
    for (uint32_t p = 0; p < fit.planes.count; ++p) {
      const VideoPlane& plane = fit.planes.plane[p];
      if (plane.rows != 0 && CopyWidth(plane, packet.linesize[p]) != 0 &&
          packet.data[p] == nullptr) {
        return "Failed to SendPacket(missing plane data(" + std::to_string(p) + "))";
      }
    }
  }

  std::memcpy(slot, &packet, kPacketRecordSize);
  uint8_t* payload = slot + kPacketRecordSize;
  if (audio) {
    if (packet.audio_bytes != 0) std::memcpy(payload, packet.data[0], packet.audio_bytes);
    return std::string();
  }
  for (uint32_t p = 0; p < fit.planes.count; ++p) {
    CopyPlane(payload, fit.planes.plane[p], fit.planes.flip, packet.data[p], packet.linesize[p]);
  }
  return std::string();
}

void CommitSlot(uint8_t* base, uint32_t ack, int32_t* index) {
  StoreU32(base + kHeaderAckRequested, ack);
  StoreU32(base + kHeaderLastIndex, static_cast<uint32_t>(*index));
  *index += 1;
  if (*index >= static_cast<int32_t>(kRingSlotCount)) {
    *index = 0;
    StoreU32(base + kHeaderFillState, kFillStateWrapped);
  }
}

}  // namespace Quenlo
