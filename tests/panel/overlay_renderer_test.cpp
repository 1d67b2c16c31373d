// The overlay picture, read pixel by pixel: where text of which colour lands,
// the background and alpha everywhere, and the row texts of the vote.
#include <gtest/gtest.h>

#include <cstdlib>

#include "panel/app_context.h"
#include "panel/overlay_renderer.h"

using namespace tessaly;

namespace {

struct Rgb {
  int r, g, b;
};
const Rgb kBackground{28, 45, 57};
const Rgb kWhite{255, 255, 255};
const Rgb kHint{188, 205, 215};
const Rgb kCaption{91, 197, 166};
const Rgb kFirstRow{115, 190, 255};
const Rgb kOtherRows{255, 194, 105};

using Picture = std::vector<std::uint8_t>;

Rgb at(const Picture& p, int x, int y) {
  const std::size_t i = static_cast<std::size_t>(y) * kOverlayStride + 4u * x;
  return {p[i + 2], p[i + 1], p[i]};
}

bool close_to(Rgb a, Rgb b, int tolerance = 12) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

// Pixels within `tolerance` of `colour` inside [x0, x1) x [y0, y1).
int count(const Picture& p, Rgb colour, int x0, int y0, int x1, int y1, int tolerance = 12) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += close_to(at(p, x, y), colour, tolerance) ? 1 : 0;
  return n;
}

// Pixels that are not background inside [x0, x1) x [y0, y1).
int drawn(const Picture& p, int x0, int y0, int x1, int y1) {
  return (x1 - x0) * (y1 - y0) - count(p, kBackground, x0, y0, x1, y1, 0);
}

Picture render(std::int32_t mode, const InteractionEngine& engine, const std::wstring& text = L"") {
  Picture p = render_overlay(mode, engine, text);
  EXPECT_EQ(p.size(), kOverlayBytes);
  if (p.size() != kOverlayBytes) p.assign(kOverlayBytes, 0);
  return p;
}

// Rows of the comment rectangle that hold white text, as [top, bottom) bands.
std::vector<std::pair<int, int>> text_bands(const Picture& p) {
  std::vector<std::pair<int, int>> bands;
  for (int y = 62; y < 158; ++y) {
    if (count(p, kWhite, 36, y, 864, y + 1) == 0) continue;
    if (!bands.empty() && bands.back().second == y) {
      bands.back().second = y + 1;
    } else {
      bands.push_back({y, y + 1});
    }
  }
  return bands;
}

// True when the last text line ends in low marks only (the dots of an
// ellipsis) rather than in a full-height character.
bool last_line_ends_in_dots(const Picture& p) {
  const auto bands = text_bands(p);
  if (bands.empty()) return false;
  const auto [top, bottom] = bands.back();
  int right = 0;
  for (int x = 36; x < 864; ++x)
    if (count(p, kWhite, x, top, x + 1, bottom) > 0) right = x;
  int highest = bottom;
  for (int y = top; y < bottom; ++y)
    if (count(p, kWhite, right - 20, y, right + 1, y + 1) > 0) {
      highest = y;
      break;
    }
  return highest > top + (bottom - top) * 2 / 3;
}

}  // namespace

TEST(OverlayPicture, EveryModeIsOpaqueWithBackgroundAroundTheText) {
  InteractionEngine engine;
  for (std::int32_t mode : {0, 1, 2}) {
    const Picture p = render(mode, engine, L"评论");
    for (std::size_t i = 3; i < p.size(); i += 4) ASSERT_EQ(p[i], 255) << "mode " << mode;
    // Margins left, right and along the bottom stay background.
    EXPECT_EQ(drawn(p, 0, 0, 36, 180), 0) << "mode " << mode;
    EXPECT_EQ(drawn(p, 864, 0, 900, 180), 0) << "mode " << mode;
    EXPECT_EQ(drawn(p, 0, 0, 900, 15), 0) << "mode " << mode;
  }
}

TEST(OverlayPicture, IdleShowsHeadingAndHintInTheirColours) {
  const Picture p = render(0, InteractionEngine());
  EXPECT_GT(count(p, kWhite, 36, 35, 864, 88), 100);
  EXPECT_GT(count(p, kHint, 36, 96, 864, 145), 100);
  EXPECT_EQ(drawn(p, 0, 145, 900, 180), 0);
}

TEST(OverlayPicture, ResultsShowTitleAndOneColouredRowPerChoice) {
  InteractionEngine engine;
  const Picture p = render(1, engine);
  EXPECT_GT(count(p, kWhite, 36, 18, 864, 64), 100);
  EXPECT_GT(count(p, kFirstRow, 36, 76, 864, 110), 50);
  EXPECT_EQ(count(p, kOtherRows, 36, 76, 864, 110), 0);
  EXPECT_GT(count(p, kOtherRows, 36, 115, 864, 149), 50);
  EXPECT_EQ(drawn(p, 0, 154, 900, 180), 0);  // no third choice, no third row

  // A third choice is drawn below and clipped by the bottom edge; any other
  // mode number draws the results too.
  engine.configure("Q", {{"a", "A", 0}, {"b", "B", 0}, {"c", "C", 0}});
  EXPECT_GT(count(render(7, engine), kOtherRows, 36, 154, 864, 180), 20);
}

TEST(OverlayPicture, RowsFollowTheCounts) {
  InteractionEngine engine;
  const Picture before = render(1, engine);
  engine.choices[0].votes = 1;
  engine.choices[1].votes = 2;
  engine.total_votes = 3;
  const Picture after = render(1, engine);
  EXPECT_EQ(drawn(before, 36, 18, 864, 64), drawn(after, 36, 18, 864, 64));
  for (int top : {76, 115}) {
    bool changed = false;
    for (int y = top; y < top + 34 && !changed; ++y)
      for (int x = 36; x < 864 && !changed; ++x)
        changed = !close_to(at(before, x, y), at(after, x, y), 0);
    EXPECT_TRUE(changed) << "row at " << top;
  }
}

TEST(OverlayRowText, PercentagesRoundToNearestAndZeroTotalCountsAsOne) {
  EXPECT_EQ(overlay_row_text({"1", "选项一", 0}, 0), L"1  选项一    0票  0%");
  EXPECT_EQ(overlay_row_text({"1", "选项一", 1}, 3), L"1  选项一    1票  33%");
  EXPECT_EQ(overlay_row_text({"2", "选项二", 2}, 3), L"2  选项二    2票  67%");
  EXPECT_EQ(overlay_row_text({"A", "Yes", 1}, 8), L"A  Yes    1票  13%");  // 12.5 rounds up
  EXPECT_EQ(overlay_row_text({"B", "No", 5000000000ull}, 5000000000ull),
            L"B  No    5000000000票  100%");
}

TEST(OverlayPicture, LongCommentWrapsInsideItsBoxAndEndsInAnEllipsis) {
  std::wstring long_text;
  for (int i = 0; i < 12; ++i) long_text += L"这是一条非常长的观众评论，用来检查换行和省略号。";
  const Picture p = render(2, InteractionEngine(), long_text);
  EXPECT_GT(count(p, kCaption, 36, 20, 864, 62), 50);
  EXPECT_GE(text_bands(p).size(), 2u);
  EXPECT_EQ(drawn(p, 0, 158, 900, 180), 0);
  EXPECT_TRUE(last_line_ends_in_dots(p));

  const Picture short_comment = render(2, InteractionEngine(), L"短评论");
  EXPECT_EQ(text_bands(short_comment).size(), 1u);
  EXPECT_FALSE(last_line_ends_in_dots(short_comment));
}

TEST(RebuildOverlay, SwapsTheNewPictureIntoTheFrame) {
  AppContext app;
  rebuild_overlay(app);
  const Picture idle = app.frame_pixels;
  EXPECT_EQ(idle, render(0, app.engine));
  app.overlay_mode = OverlayMode::Comment;
  app.confirmed_text = L"评论";
  rebuild_overlay(app);
  EXPECT_EQ(app.frame_pixels, render(2, app.engine, L"评论"));
  EXPECT_NE(app.frame_pixels, idle);
}
