// VideoPlanes.h - where the planes of a video frame lie in a ring slot.
//
// The planes of a frame are packed one after another from the start of the
// slot's payload (slot offset 168). With w and h the frame's width and
// height, halves rounded down, and A = w*h, Q = (w/2)*(h/2), H = (w/2)*h each
// rounded up to a multiple of 32, each plane is (offset; bytes per row; rows):
//
//   1, 2            (0; w; h) (A; w/2; h/2) (A+Q; w/2; h/2)
//   3, 4, 22        (0; w; h) (A; w; h/2)
//   5, 6, 19        (0; 2w; h)
//   7, 10, 12       (0; plane-0 stride; h)              rows flipped on request
//   9, 11           (0; 3w; h)                          rows flipped on request
//   14              (0; w; h) (A; w; h) (2A; w; h)
//   15              as 14, then (3A; w; h)
//   16              as 1, then (A+2Q; w; h)
//   17              (0; w; h) (A; w/2; h) (A+H; w/2; h)
//   18              as 17, then (A+2H; w; h)
//   20, 21, 23, 24  (0; 2w; h) (2wh rounded up to 32; 2w; h/2)
//   8, 13, others   no payload
//
// Portable and pure.
#ifndef QUENLO_LAYOUT_VIDEOPLANES_H
#define QUENLO_LAYOUT_VIDEOPLANES_H

#include <cstdint>

namespace Quenlo {

constexpr uint32_t kMaxVideoPlanes = 4;

struct VideoPlane {
  uint64_t offset = 0;     // from the start of the slot's payload
  uint64_t row_bytes = 0;  // bytes per row in the slot
  uint64_t rows = 0;
};

struct VideoPlanes {
  uint32_t count = 0;  // 0 (no payload) to kMaxVideoPlanes
  bool flip = false;   // rows are stored bottom-up
  VideoPlane plane[kMaxVideoPlanes];
};

// Rounds up to a multiple of 32 (saturating at the largest such value).
uint64_t RoundUp32(uint64_t value);

// The plane table of a frame. `stride0` is the frame's plane-0 stride (row
// width of the stride-based formats 7, 10, 12); `flip` is the packet's flip
// flag, honoured by the formats that allow it. False, with an empty table,
// when width * height (computed in 64 bits) exceeds kMaxVideoPixels: no
// larger frame fits a slot, and the bound keeps every product below 2^63.
bool ComputeVideoPlanes(uint32_t format, uint32_t width, uint32_t height, uint32_t stride0,
                        bool flip, VideoPlanes* out);

// The bytes a plane reaches from its offset, both as stored (rows of
// row_bytes) and as read back with `stride` between rows (the host reads
// at the stride it is handed): the larger of rows * row_bytes and
// (rows - 1) * stride + row_bytes. 0 when the plane has no rows. Saturates
// instead of wrapping.
uint64_t PlaneReach(const VideoPlane& plane, uint64_t stride);

// Overflow-safe helpers: the true result, or UINT64_MAX when it does not fit.
uint64_t SaturatingAdd(uint64_t a, uint64_t b);
uint64_t SaturatingMul(uint64_t a, uint64_t b);

}  // namespace Quenlo

#endif  // QUENLO_LAYOUT_VIDEOPLANES_H
