#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panel/live/interaction_engine.h"

namespace tessaly {

struct AppContext;

// The overlay picture: 900 x 180 pixels, top-down rows of 3600 bytes, each
// pixel blue, green, red, alpha with alpha always 255.
constexpr int kOverlayWidth = 900;
constexpr int kOverlayHeight = 180;
constexpr std::size_t kOverlayStride = 4u * kOverlayWidth;
constexpr std::size_t kOverlayBytes = kOverlayStride * kOverlayHeight;  // 648000

// Text of one result row: token, two spaces, label, four spaces, votes, "票",
// two spaces, the rounded percentage of `total` (taken as 1 when 0), "%".
std::wstring overlay_row_text(const InteractionChoice& choice, std::uint64_t total);

// Draws the picture for `mode` (0 idle hint, 2 the confirmed comment, anything
// else the vote results of `engine`). Returns kOverlayBytes bytes, or an empty
// vector when GDI cannot provide the drawing surface. UI thread.
std::vector<std::uint8_t> render_overlay(std::int32_t mode, const InteractionEngine& engine,
                                         const std::wstring& confirmed_text);

// Draws the picture for the context's overlay_mode, engine and confirmed text
// and swaps it into frame_pixels under frame_mutex (the lock is held only for
// the swap). UI thread.
void rebuild_overlay(AppContext& app);

}  // namespace tessaly
