// PacketFit.h - whether a packet's payload fits a slot, judged the same way
// by the writer (before it copies) and the reader (before it forms pointers).
//
// A video packet fits when its pixel count is at most 1920 x 1080, every
// plane of its format has a non-negative stride, and every plane, stored as
// rows of the table's row width, ends inside the slot's payload area (the
// reader hands the rows on at that width, so a padded source stride does
// not matter). An audio packet fits when its byte count does. Writer and reader sharing this one
// rule is what keeps a packet the writer stored from being refused by the reader.
//
// Portable and pure.
#ifndef QUENLO_LAYOUT_PACKETFIT_H
#define QUENLO_LAYOUT_PACKETFIT_H

#include <cstdint>
#include <string>

#include "Quenlo/Quenlo.h"
#include "Quenlo/layout/VideoPlanes.h"

namespace Quenlo {

enum class PacketFitStatus {
  kFits,
  kInvalidVideoSize,  // width * height above 1920 * 1080
  kNegativeStride,    // a plane of the format has a negative stride
  kTooLarge,          // the payload would reach past the slot's payload area
};

struct PacketFit {
  PacketFitStatus status = PacketFitStatus::kFits;
  VideoPlanes planes;        // video: the plane table (empty when refused for size)
  uint64_t payload_end = 0;  // bytes of payload area the packet reaches
  uint32_t bad_plane = 0;    // kNegativeStride: the plane
};

// Judges `packet` as audio (`audio` true: its data size) or video (its
// width, height, format, flip flag and strides) against a payload area of
// `capacity` bytes.
PacketFit CheckPacketFit(const MediaPacket& packet, bool audio, uint64_t capacity);

// The ERROR line for a refused packet, "Failed to <operation>(...)":
//   kInvalidVideoSize  "Failed to <op>(invalid video size(<w>,<h>)"
//   kNegativeStride    "Failed to <op>(invalid stride(<plane>,<stride>))"
//   kTooLarge (video)  "Failed to <op>(video frame too large(<end>,<capacity>))"
//   kTooLarge (audio)  "Failed to <op>(audio data too large(<size>,<capacity>))"
// (the first keeps its historical unbalanced parenthesis). Empty for kFits.
std::string DescribePacketFit(const char* operation, const MediaPacket& packet, bool audio,
                              uint64_t capacity, const PacketFit& fit);

}  // namespace Quenlo

#endif  // QUENLO_LAYOUT_PACKETFIT_H
