#include "tools/host-sim/panel_window.h"

#include <cstring>

#include "tools/host-sim/wide_text.h"

namespace host_sim {
namespace {

constexpr UINT kSendTimeoutMs = 3000;

// SendMessageTimeoutW's result, or -1 when the call failed or timed out.
LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

// Owners of the GDI objects of one capture.
struct ScreenDc {
  HDC dc = ::GetDC(nullptr);
  ~ScreenDc() {
    if (dc != nullptr) ::ReleaseDC(nullptr, dc);
  }
};
struct MemoryDc {
  HDC dc;
  explicit MemoryDc(HDC like) : dc(::CreateCompatibleDC(like)) {}
  ~MemoryDc() {
    if (dc != nullptr) ::DeleteDC(dc);
  }
};
struct Bitmap {
  HBITMAP bitmap = nullptr;
  ~Bitmap() {
    if (bitmap != nullptr) ::DeleteObject(bitmap);
  }
};
struct Selection {
  HDC dc;
  HGDIOBJ previous;
  Selection(HDC d, HGDIOBJ object) : dc(d), previous(::SelectObject(d, object)) {}
  ~Selection() { ::SelectObject(dc, previous); }
};

// True when the picture shows something: not every pixel the same colour.
bool has_content(const uint8_t* pixels, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    if (std::memcmp(pixels, pixels + i * 4, 3) != 0) return true;
  }
  return false;
}

}  // namespace

std::string PanelWindow::text(int id) const {
  const HWND control = item(id);
  if (control == nullptr) return std::string();
  const LRESULT length = send(control, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return std::string();
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied =
      send(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]));
  if (copied <= 0) return std::string();
  buffer.resize(static_cast<size_t>(copied));
  return narrow(buffer);
}

bool PanelWindow::set_text(int id, const std::string& text) const {
  const HWND control = item(id);
  const std::wstring wide = widen(text);
  return control != nullptr &&
         send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str())) == TRUE;
}

bool PanelWindow::enabled(int id) const {
  const HWND control = item(id);
  return control != nullptr && ::IsWindowEnabled(control);
}

bool PanelWindow::click(int id) const {
  const HWND control = item(id);
  return control != nullptr && ::PostMessageW(control, BM_CLICK, 0, 0);
}

std::vector<std::string> PanelWindow::candidates() const {
  std::vector<std::string> entries;
  const HWND list = item(kCandidatesId);
  const LRESULT count = list != nullptr ? send(list, LB_GETCOUNT, 0, 0) : -1;
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) break;
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&buffer[0]));
    buffer.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    entries.push_back(narrow(buffer));
  }
  return entries;
}

bool PanelWindow::select_candidate(int index) const {
  const HWND list = item(kCandidatesId);
  return list != nullptr && send(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0) == index;
}

bool capture_window(HWND window, std::vector<uint8_t>& pixels, uint32_t& width, uint32_t& height) {
  // The client area only: the caption and frame belong to the window
  // manager on some systems and are missing from both kinds of capture.
  RECT rect{};
  POINT origin{0, 0};
  if (!::GetClientRect(window, &rect) || rect.right <= 0 || rect.bottom <= 0 ||
      !::ClientToScreen(window, &origin)) {
    return false;
  }
  width = static_cast<uint32_t>(rect.right);
  height = static_cast<uint32_t>(rect.bottom);

  ScreenDc screen;
  MemoryDc memory(screen.dc);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  Bitmap bitmap;
  bitmap.bitmap = ::CreateDIBSection(screen.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (screen.dc == nullptr || memory.dc == nullptr || bitmap.bitmap == nullptr || bits == nullptr) {
    return false;
  }
  const size_t count = static_cast<size_t>(width) * height;
  {
    Selection select(memory.dc, bitmap.bitmap);
    const bool printed = ::PrintWindow(window, memory.dc, PW_CLIENTONLY) != 0;
    ::GdiFlush();
    if (!printed || !has_content(static_cast<const uint8_t*>(bits), count)) {
      // Some systems cannot print another process's window; its area of
      // the screen shows the same when nothing covers it.
      ::BitBlt(memory.dc, 0, 0, static_cast<int>(width), static_cast<int>(height), screen.dc,
               origin.x, origin.y, SRCCOPY);
      ::GdiFlush();
    }
  }
  const auto* source = static_cast<const uint8_t*>(bits);
  if (!has_content(source, count)) return false;
  pixels.assign(source, source + count * 4);
  for (size_t i = 0; i < count; ++i) pixels[i * 4 + 3] = 255;  // GDI leaves alpha undefined
  return true;
}

}  // namespace host_sim
