#include "panel/overlay_renderer.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#include "panel/app_context.h"
#include "panel/scoped_win.h"
#include "panel/text_convert.h"

namespace tessaly {

namespace {

const COLORREF kBackground = RGB(28, 45, 57);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kIdleHint = RGB(188, 205, 215);
const COLORREF kCaption = RGB(91, 197, 166);
const COLORREF kFirstRow = RGB(115, 190, 255);
const COLORREF kOtherRows = RGB(255, 194, 105);

const UINT kSingleLine = DT_LEFT | DT_SINGLELINE | DT_VCENTER;
const UINT kSingleLineCut = kSingleLine | DT_END_ELLIPSIS;
const UINT kWrappedCut = DT_LEFT | DT_WORDBREAK | DT_VCENTER | DT_END_ELLIPSIS;

UniqueFont make_font(int height, int weight) {
  return UniqueFont(::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, L"Microsoft YaHei UI"));
}

void draw_text(HDC dc, HFONT font, COLORREF colour, const std::wstring& text, RECT rect,
               UINT flags) {
  ScopedSelect select(dc, font);
  ::SetTextColor(dc, colour);
  ::SetBkMode(dc, TRANSPARENT);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
}

struct Fonts {
  UniqueFont heading = make_font(34, FW_BOLD);
  UniqueFont body = make_font(25, FW_NORMAL);
  UniqueFont small_text = make_font(21, FW_NORMAL);
};

void draw_comment(HDC dc, const Fonts& fonts, const std::wstring& confirmed_text) {
  draw_text(dc, fonts.small_text.Get(), kCaption, L"互动内容", RECT{36, 20, 864, 62}, kSingleLine);
  draw_text(dc, fonts.heading.Get(), kWhite, confirmed_text, RECT{36, 62, 864, 158}, kWrappedCut);
}

void draw_results(HDC dc, const Fonts& fonts, const InteractionEngine& engine) {
  draw_text(dc, fonts.heading.Get(), kWhite, wide_from_utf8(engine.title), RECT{36, 18, 864, 64},
            kSingleLineCut);
  // Three rows at most; the third reaches below the bottom edge and is clipped.
  for (std::size_t i = 0; i < engine.choices.size() && i < 3; ++i) {
    const int top = 76 + 39 * static_cast<int>(i);
    draw_text(dc, fonts.body.Get(), i == 0 ? kFirstRow : kOtherRows,
              overlay_row_text(engine.choices[i], engine.total_votes), RECT{36, top, 864, top + 34},
              kSingleLineCut);
  }
}

void draw_idle(HDC dc, const Fonts& fonts) {
  draw_text(dc, fonts.heading.Get(), kWhite, L"互动工具已连接", RECT{36, 35, 864, 88}, kSingleLine);
  draw_text(dc, fonts.body.Get(), kIdleHint, L"可在控制面板中设置互动，或确认需要展示的评论。",
            RECT{36, 96, 864, 145}, kSingleLine);
}

}  // namespace

std::wstring overlay_row_text(const InteractionChoice& choice, std::uint64_t total) {
  const std::uint64_t t = total == 0 ? 1 : total;
  // Rounded to the nearest whole number, in unsigned 64-bit arithmetic.
  const std::uint64_t percent = (choice.votes * 100u + t / 2u) / t;
  std::wstring row = wide_from_utf8(choice.token + "  " + choice.label);
  row += L"    ";
  row += std::to_wstring(choice.votes);
  row += L"票  ";
  row += std::to_wstring(percent);
  row += L"%";
  return row;
}

std::vector<std::uint8_t> render_overlay(std::int32_t mode, const InteractionEngine& engine,
                                         const std::wstring& confirmed_text) {
  UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  if (!dc) return {};

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kOverlayWidth;
  info.bmiHeader.biHeight = -kOverlayHeight;  // negative: rows top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || bits == nullptr) return {};

  std::vector<std::uint8_t> pixels;
  {
    // Everything selected into the context is selected out again before
    // the bitmap and the fonts are deleted.
    ScopedSelect select_bitmap(dc.Get(), bitmap.Get());
    UniqueBrush background(::CreateSolidBrush(kBackground));
    RECT all{0, 0, kOverlayWidth, kOverlayHeight};
    ::FillRect(dc.Get(), &all, background.Get());

    const Fonts fonts;
    if (mode == static_cast<std::int32_t>(OverlayMode::Comment)) {
      draw_comment(dc.Get(), fonts, confirmed_text);
    } else if (mode == static_cast<std::int32_t>(OverlayMode::Idle)) {
      draw_idle(dc.Get(), fonts);
    } else {
      draw_results(dc.Get(), fonts, engine);
    }
    ::GdiFlush();  // all drawing has reached the DIB memory before it is read

    auto* p = static_cast<std::uint8_t*>(bits);
    for (std::size_t i = 3; i < kOverlayBytes; i += 4) p[i] = 255;
    pixels.assign(p, p + kOverlayBytes);
  }
  return pixels;
}

void rebuild_overlay(AppContext& app) {
  std::vector<std::uint8_t> pixels =
      render_overlay(static_cast<std::int32_t>(app.overlay_mode), app.engine, app.confirmed_text);
  {
    std::lock_guard<std::mutex> lock(app.frame_mutex);
    app.frame_pixels.swap(pixels);
  }
  // The previous picture is freed here, outside the lock.
}

}  // namespace tessaly
