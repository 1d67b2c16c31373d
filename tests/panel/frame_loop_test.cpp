// The frame thread against a recording client: when it sends, what it sends,
// and that it stops.
#include "recording_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/failing_allocator.h"
#include "tests/support/log_capture.h"
#include "panel/app_context.h"
#include "panel/frame_loop.h"

using namespace tessaly;
using namespace std::chrono_literals;

namespace {

uint64_t fake_clock() { return 123456789; }

// A clock read inside the first pass whose allocation fails, on the frame
// thread itself.
std::atomic<int> g_clock_reads{0};
std::atomic<void*> g_escape{nullptr};
uint64_t clock_failing_first() {
  if (g_clock_reads++ == 0) {
    test_support::ScopedAllocationFailure failure(1);
    g_escape.store(::operator new(16));  // throws
  }
  return 1;
}

std::size_t packets_sent(RecordingClient& client) {
  std::lock_guard<std::mutex> lock(client.mutex);
  return client.packets.size();
}

}  // namespace

TEST(OverlayPacket, CarriesThePictureAsVideoOfChannelZero) {
  std::uint8_t pixels[4] = {};
  const MediaPacket packet = make_overlay_packet(pixels, 648000, 77);
  std::uint32_t words[42];
  std::memcpy(words, &packet, sizeof words);  // the first 168 bytes as 32-bit words
  const std::uint32_t expected_head[] = {2, 0, 0, 0, 900, 180, 0, 10, 1, 12, 2, 7, 2, 0};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(words[i], expected_head[i]) << "offset " << 4 * i;
  EXPECT_EQ(packet.data[0], pixels);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(packet.data[i], nullptr);
  EXPECT_EQ(packet.linesize[0], 3600);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(packet.linesize[i], 0);
  EXPECT_EQ(packet.audio_bytes, 648000u);
  EXPECT_EQ(packet.reserved156, 0u);
  EXPECT_EQ(packet.timestamp, 77u);
}

TEST(FrameLoop, SendsTheCurrentPictureOnlyWhileConnectedAndStopsOnRequest) {
  RecordingClient client;
  AppContext app;
  app.client.reset(&client);
  app.frame_pixels.assign(648000, 0x11);
  app.frame_thread = std::thread(frame_loop, std::ref(app), fake_clock);

  std::this_thread::sleep_for(350ms);
  EXPECT_EQ(packets_sent(client), 0u);  // not connected yet

  app.connected = true;
  std::this_thread::sleep_for(350ms);
  {
    std::lock_guard<std::mutex> lock(client.mutex);
    ASSERT_GE(client.packets.size(), 2u);  // the same picture again on every pass
    EXPECT_LE(client.packets.size(), 5u);  // paced by the 100 ms sleep
    EXPECT_EQ(client.packets[0].audio_bytes, 648000u);
    EXPECT_EQ(client.packets[0].timestamp, 123456789u);
    EXPECT_EQ(client.first_pixel[0], 0x11);
    EXPECT_EQ(client.timeouts[0], 80u);
  }

  // A new picture is picked up without any other signal; an empty one is
  // not sent.
  {
    std::lock_guard<std::mutex> lock(app.frame_mutex);
    app.frame_pixels.assign(648000, 0x22);
  }
  std::this_thread::sleep_for(250ms);
  {
    std::lock_guard<std::mutex> lock(client.mutex);
    EXPECT_EQ(client.first_pixel.back(), 0x22);
  }
  {
    std::lock_guard<std::mutex> lock(app.frame_mutex);
    app.frame_pixels.clear();
  }
  std::this_thread::sleep_for(150ms);
  const std::size_t before = packets_sent(client);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(packets_sent(client), before);

  const auto start = std::chrono::steady_clock::now();
  app.stopping = true;
  app.frame_thread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
}

// An allocation failing on the frame thread drops that frame; the thread
// goes on sending (an exception would end the process).
TEST(FrameLoop, AllocationFailureDropsOneFrameAndTheLoopGoesOn) {
  test_support::LogCapture capture{test_support::LogClock::kDriven};
  RecordingClient client;
  AppContext app;
  app.client.reset(&client);
  app.frame_pixels.assign(648000, 0x33);
  app.connected = true;
  app.frame_thread = std::thread(frame_loop, std::ref(app), clock_failing_first);
  std::this_thread::sleep_for(350ms);
  app.stopping = true;
  app.frame_thread.join();
  EXPECT_GE(packets_sent(client), 1u);
  EXPECT_GE(g_clock_reads.load(), 2);
  EXPECT_GE(capture.Count(2, "Failed to frame_loop: out of memory"), 1);
}
