#pragma once

#include <cstdint>

#include "Quenlo/Quenlo.h"

namespace tessaly {

struct AppContext;

// The video packet of one overlay picture for channel 0: 900 x 180, stride
// 3600, `size` bytes at `pixels` as plane 0, stamped with `timestamp_ns`.
MediaPacket make_overlay_packet(std::uint8_t* pixels, std::uint32_t size,
                                std::uint64_t timestamp_ns);

// Body of the frame thread. About every 100 ms, while the link is up, copies
// the latest overlay picture under frame_mutex (and nothing else under it)
// and writes it to the client as a video packet with an 80 ms time-out; the
// result is ignored and the same picture goes out again on the next pass. An
// empty picture is not sent. Returns once `stopping` is set. `now_ns` is the
// library's GetTimeNS clock.
void frame_loop(AppContext& app, PFN_GetTimeNS now_ns);

}  // namespace tessaly
