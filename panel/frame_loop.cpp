#include "panel/frame_loop.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/LogException.h"
#include "panel/app_context.h"
#include "panel/overlay_renderer.h"

namespace tessaly {

namespace {

constexpr std::uint32_t kWriteTimeoutMs = 80;
constexpr auto kPassPeriod = std::chrono::milliseconds(100);

void put_u32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }

}  // namespace

MediaPacket make_overlay_packet(std::uint8_t* pixels, std::uint32_t size,
                                std::uint64_t timestamp_ns) {
  MediaPacket packet;
  std::memset(&packet, 0, sizeof packet);
  packet.kind = MEDIA_PACKET_VIDEO;
  packet.channel = 0;
  packet.flip = 0;
  packet.width = kOverlayWidth;
  packet.height = kOverlayHeight;
  packet.video_info0 = 10;  // the video descriptor the host expects
  packet.video_info1 = 1;
  packet.format = 12;  // packed, 4 bytes per pixel
  put_u32(packet.reserved40 + 0, 2);
  put_u32(packet.reserved40 + 4, 7);
  put_u32(packet.reserved40 + 8, 2);
  packet.data[0] = pixels;
  packet.linesize[0] = static_cast<std::int32_t>(kOverlayStride);
  packet.audio_bytes = size;  // the byte count field, here of picture data
  packet.timestamp = timestamp_ns;
  return packet;
}

void frame_loop(AppContext& app, PFN_GetTimeNS now_ns) {
  // The buffer belongs to this thread; the library copies the pixels during
  // WritePacket, so it is reused on the next pass.
  std::vector<std::uint8_t> buffer;
  while (!app.stopping.load()) {
    if (app.connected.load() && app.client) {
      // A pass that cannot copy the picture drops this frame; the thread
      // goes on (an exception would end the process through std::terminate).
      try {
        {
          std::lock_guard<std::mutex> lock(app.frame_mutex);
          buffer = app.frame_pixels;
        }
        if (!buffer.empty()) {
          const MediaPacket packet =
              make_overlay_packet(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                  now_ns != nullptr ? now_ns() : 0);
          app.client->WritePacket(&packet, kWriteTimeoutMs);
        }
      } catch (...) {
        BRISQ_LOG_CAUGHT("Failed to frame_loop");
        buffer = std::vector<std::uint8_t>();
      }
    }
    std::this_thread::sleep_for(kPassPeriod);
  }
}

}  // namespace tessaly
