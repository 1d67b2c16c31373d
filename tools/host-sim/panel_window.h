// panel_window.h - the panel's control window, driven from host-sim's
// process with plain window messages, as a streamer's clicks would.
//
// Texts cross the process boundary as UTF-16 window text and are UTF-8
// here. Messages that return something are sent with a time-out, so a hung
// panel cannot hang host-sim; clicks are posted, because a click may open a
// modal message box and a sent click would not return until someone closed
// it. Main thread only.
#ifndef TOOLS_HOST_SIM_PANEL_WINDOW_H
#define TOOLS_HOST_SIM_PANEL_WINDOW_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host_sim {

// The control ids of the panel's window (class "TessalyControlPanel").
enum PanelControl : int {
  kStatusId = 100,
  kTitleId = 101,
  kLabel1Id = 102,
  kToken1Id = 103,
  kLabel2Id = 104,
  kToken2Id = 105,
  kStartId = 106,
  kEndId = 107,
  kShowResultsId = 108,
  kResult1Id = 109,
  kResult2Id = 110,
  kCandidatesId = 111,
  kConfirmId = 112,
  kConfirmedId = 113,
};

class PanelWindow {
 public:
  explicit PanelWindow(HWND window) : window_(window) {}

  HWND handle() const { return window_; }
  bool exists() const { return ::IsWindow(window_) != 0; }

  std::string text(int id) const;
  bool set_text(int id, const std::string& text) const;
  bool enabled(int id) const;
  // Posts a click to the button `id`.
  bool click(int id) const;

  // The candidate list box: its entries, and selecting one (-1: none).
  std::vector<std::string> candidates() const;
  bool select_candidate(int index) const;

 private:
  HWND item(int id) const { return ::GetDlgItem(window_, id); }
  HWND window_;
};

// Draws the client area of `window` (of any process) into a 32-bit
// top-down BGRA buffer: PrintWindow first, the window's area of the screen
// when that gives nothing. False when neither works.
bool capture_window(HWND window, std::vector<uint8_t>& pixels, uint32_t& width, uint32_t& height);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_PANEL_WINDOW_H
