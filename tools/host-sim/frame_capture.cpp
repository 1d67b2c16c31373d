#include "tools/host-sim/frame_capture.h"

#include <cstring>

#include "Quenlo/Quenlo.h"

namespace host_sim {
namespace {

uint64_t fnv1a64(const uint8_t* data, size_t size) {
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

// The queue holds at most this many frames (about 60 MB) should the main
// thread fall behind; older ones are dropped.
constexpr size_t kMaxQueuedFrames = 100;

}  // namespace

void FrameCapture::on_packet(const char* data, uint32_t length) {
  MediaPacket packet;
  const bool whole = data != nullptr && length >= sizeof packet;
  if (whole) std::memcpy(&packet, data, sizeof packet);
  const bool usable = whole && packet.kind == MEDIA_PACKET_VIDEO && packet.width == kOverlayWidth &&
                      packet.height == kOverlayHeight && packet.format == kOverlayFormat &&
                      packet.data[0] != nullptr &&
                      packet.linesize[0] >= static_cast<int32_t>(kOverlayStride);
  if (!usable) {
    std::lock_guard<std::mutex> hold(lock_);
    ++bad_packets_;
    return;
  }

  // Copied before taking the lock: this touches only the call's own buffer.
  Frame frame;
  frame.pixels.resize(static_cast<size_t>(kOverlayStride) * kOverlayHeight);
  for (uint32_t y = 0; y < kOverlayHeight; ++y) {
    // A flipped frame is stored bottom row first.
    const uint32_t source_row = packet.flip != 0 ? kOverlayHeight - 1 - y : y;
    std::memcpy(&frame.pixels[static_cast<size_t>(y) * kOverlayStride],
                packet.data[0] + static_cast<size_t>(source_row) * packet.linesize[0],
                kOverlayStride);
  }
  frame.hash = fnv1a64(frame.pixels.data(), frame.pixels.size());

  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> hold(lock_);
  frame.number = latest_.number + 1;
  if (frame.number == 1) first_at_ = now;
  latest_at_ = now;
  if (sequence_every_ != 0 && frame.number % sequence_every_ == 0) {
    if (sequence_.size() == kMaxQueuedFrames) sequence_.pop_front();
    sequence_.push_back(frame);
  }
  latest_ = std::move(frame);
}

bool FrameCapture::latest(Frame& out) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (latest_.number == 0) return false;
  out = latest_;
  return true;
}

uint64_t FrameCapture::frames() const {
  std::lock_guard<std::mutex> hold(lock_);
  return latest_.number;
}

uint64_t FrameCapture::bad_packets() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bad_packets_;
}

double FrameCapture::frames_per_second() const {
  std::lock_guard<std::mutex> hold(lock_);
  const double seconds = std::chrono::duration<double>(latest_at_ - first_at_).count();
  return latest_.number >= 2 && seconds > 0 ? (latest_.number - 1) / seconds : 0.0;
}

int64_t FrameCapture::last_frame_age_ms() const {
  std::lock_guard<std::mutex> hold(lock_);
  if (latest_.number == 0) return -1;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               latest_at_)
      .count();
}

std::vector<Frame> FrameCapture::take_sequence() {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<Frame> out(std::make_move_iterator(sequence_.begin()),
                         std::make_move_iterator(sequence_.end()));
  sequence_.clear();
  return out;
}

}  // namespace host_sim
