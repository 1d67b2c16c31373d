// frame_capture.h - the overlay frames that arrive as EVENT_PACKET.
//
// The panel sends its 900x180 overlay as 32-bit BGRA (pixel format 12)
// video packets about ten times a second. on_packet runs on the library's
// video reader thread; the packet's plane pointer points into the shared
// mapping and is valid only during the call, so the pixels are copied
// there, packed (stride 3600). Everything else runs on the main thread.
// lock_ guards every field below it.
#ifndef TOOLS_HOST_SIM_FRAME_CAPTURE_H
#define TOOLS_HOST_SIM_FRAME_CAPTURE_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace host_sim {

constexpr uint32_t kOverlayWidth = 900;
constexpr uint32_t kOverlayHeight = 180;
constexpr uint32_t kOverlayFormat = 12;  // packed, 4 bytes a pixel: B, G, R, A
constexpr uint32_t kOverlayStride = kOverlayWidth * 4;

struct Frame {
  uint64_t number = 0;          // 1 for the first frame received
  uint64_t hash = 0;            // FNV-1a of the pixels, to tell pictures apart
  std::vector<uint8_t> pixels;  // kOverlayHeight rows of kOverlayStride bytes
};

class FrameCapture {
 public:
  // Every `sequence_every`th frame is also queued for take_sequence (0: none).
  explicit FrameCapture(uint32_t sequence_every) : sequence_every_(sequence_every) {}
  FrameCapture(const FrameCapture&) = delete;
  FrameCapture& operator=(const FrameCapture&) = delete;

  // The host's EVENT_PACKET: `data` is the 168-byte MediaPacket. A packet
  // that is not a 900x180 format-12 video frame with pixels only counts as
  // bad. Library reader thread.
  void on_packet(const char* data, uint32_t length);

  // A copy of the newest frame; false before the first one.
  bool latest(Frame& out) const;
  uint64_t frames() const;
  uint64_t bad_packets() const;
  // Frames a second between the first and the newest frame; 0 below two.
  double frames_per_second() const;
  // Milliseconds since the newest frame arrived; -1 before the first.
  int64_t last_frame_age_ms() const;
  // The frames queued for the PNG sequence since the last call.
  std::vector<Frame> take_sequence();

 private:
  const uint32_t sequence_every_;
  mutable std::mutex lock_;
  Frame latest_;
  uint64_t bad_packets_ = 0;
  std::chrono::steady_clock::time_point first_at_{};
  std::chrono::steady_clock::time_point latest_at_{};
  std::deque<Frame> sequence_;
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_FRAME_CAPTURE_H
