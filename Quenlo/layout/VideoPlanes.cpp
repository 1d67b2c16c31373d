#include "Quenlo/layout/VideoPlanes.h"

#include <initializer_list>
#include <limits>

#include "Quenlo/layout/RingLayout.h"

namespace Quenlo {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

void SetPlanes(VideoPlanes* out, std::initializer_list<VideoPlane> planes) {
  out->count = 0;
  for (const VideoPlane& p : planes) out->plane[out->count++] = p;
}

}  // namespace

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > kMax - b ? kMax : a + b; }

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > kMax / a) return kMax;
  return a * b;
}

uint64_t RoundUp32(uint64_t value) {
  const uint64_t rounded = SaturatingAdd(value, 31);
  return rounded & ~uint64_t{31};
}

uint64_t PlaneReach(const VideoPlane& plane, uint64_t stride) {
  if (plane.rows == 0) return 0;
  const uint64_t stored = SaturatingMul(plane.rows, plane.row_bytes);
  const uint64_t read_back = SaturatingAdd(SaturatingMul(plane.rows - 1, stride), plane.row_bytes);
  return stored > read_back ? stored : read_back;
}

bool ComputeVideoPlanes(uint32_t format, uint32_t width, uint32_t height, uint32_t stride0,
                        bool flip, VideoPlanes* out) {
  *out = VideoPlanes();
  const uint64_t w = width;
  const uint64_t h = height;
  // 64 bits: a 32-bit product wraps (65536 x 65536 would read as 0 pixels).
  if (w * h > kMaxVideoPixels) return false;
  // A side longer than the whole pixel budget is no frame either, even with
  // the other side 0: its rows would be wider than a 32-bit stride can say
  // when the reader hands them on.
  if (w > kMaxVideoPixels || h > kMaxVideoPixels) return false;

  const uint64_t w2 = w / 2;
  const uint64_t h2 = h / 2;
  const uint64_t a = RoundUp32(w * h);
  const uint64_t q = RoundUp32(w2 * h2);
  const uint64_t hh = RoundUp32(w2 * h);

  switch (format) {
    case 1:
    case 2:
      SetPlanes(out, {{0, w, h}, {a, w2, h2}, {a + q, w2, h2}});
      break;
    case 3:
    case 4:
    case 22:
      SetPlanes(out, {{0, w, h}, {a, w, h2}});
      break;
    case 5:
    case 6:
    case 19:
      SetPlanes(out, {{0, 2 * w, h}});
      break;
    case 7:
    case 10:
    case 12:
      SetPlanes(out, {{0, stride0, h}});
      out->flip = flip;
      break;
    case 9:
    case 11:
      SetPlanes(out, {{0, 3 * w, h}});
      out->flip = flip;
      break;
    case 14:
      SetPlanes(out, {{0, w, h}, {a, w, h}, {2 * a, w, h}});
      break;
    case 15:
      SetPlanes(out, {{0, w, h}, {a, w, h}, {2 * a, w, h}, {3 * a, w, h}});
      break;
    case 16:
      SetPlanes(out, {{0, w, h}, {a, w2, h2}, {a + q, w2, h2}, {a + 2 * q, w, h}});
      break;
    case 17:
      SetPlanes(out, {{0, w, h}, {a, w2, h}, {a + hh, w2, h}});
      break;
    case 18:
      SetPlanes(out, {{0, w, h}, {a, w2, h}, {a + hh, w2, h}, {a + 2 * hh, w, h}});
      break;
    case 20:
    case 21:
    case 23:
    case 24:
      SetPlanes(out, {{0, 2 * w, h}, {RoundUp32(2 * w * h), 2 * w, h2}});
      break;
    default:  // 8, 13 and codes outside 1-24 carry no payload
      break;
  }
  return true;
}

}  // namespace Quenlo
