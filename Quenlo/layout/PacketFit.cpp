#include "Quenlo/layout/PacketFit.h"

namespace Quenlo {

PacketFit CheckPacketFit(const MediaPacket& packet, bool audio, uint64_t capacity) {
  PacketFit fit;
  if (audio) {
    fit.payload_end = packet.audio_bytes;
    if (fit.payload_end > capacity) fit.status = PacketFitStatus::kTooLarge;
    return fit;
  }

  // A negative plane-0 stride of a stride-based format is caught below with
  // the other strides; the table only needs a width for it.
  const uint32_t stride0 = packet.linesize[0] < 0 ? 0u : static_cast<uint32_t>(packet.linesize[0]);
  if (!ComputeVideoPlanes(packet.format, packet.width, packet.height, stride0, packet.flip != 0,
                          &fit.planes)) {
    fit.status = PacketFitStatus::kInvalidVideoSize;
    return fit;
  }
  for (uint32_t p = 0; p < fit.planes.count; ++p) {
    if (packet.linesize[p] < 0) {
      fit.status = PacketFitStatus::kNegativeStride;
      fit.bad_plane = p;
      return fit;
    }
  }
  for (uint32_t p = 0; p < fit.planes.count; ++p) {
    const VideoPlane& plane = fit.planes.plane[p];
    // As stored: the reader hands the rows on at this width, so the
    // writer's source stride (often padded) does not matter here.
    const uint64_t end = SaturatingAdd(plane.offset, PlaneReach(plane, plane.row_bytes));
    if (end > fit.payload_end) fit.payload_end = end;
  }
  if (fit.payload_end > capacity) fit.status = PacketFitStatus::kTooLarge;
  return fit;
}

std::string DescribePacketFit(const char* operation, const MediaPacket& packet, bool audio,
                              uint64_t capacity, const PacketFit& fit) {
  const std::string head = std::string("Failed to ") + operation + "(";
  switch (fit.status) {
    case PacketFitStatus::kFits:
      return std::string();
    case PacketFitStatus::kInvalidVideoSize:
      // Width and height print as the signed 32-bit values of the original text.
      return head + "invalid video size(" + std::to_string(static_cast<int32_t>(packet.width)) +
             "," + std::to_string(static_cast<int32_t>(packet.height)) + ")";
    case PacketFitStatus::kNegativeStride:
      return head + "invalid stride(" + std::to_string(fit.bad_plane) + "," +
             std::to_string(packet.linesize[fit.bad_plane]) + "))";
    case PacketFitStatus::kTooLarge:
      if (audio) {
        return head + "audio data too large(" + std::to_string(packet.audio_bytes) + "," +
               std::to_string(capacity) + "))";
      }
      return head + "video frame too large(" + std::to_string(fit.payload_end) + "," +
             std::to_string(capacity) + "))";
  }
  return std::string();
}

}  // namespace Quenlo
