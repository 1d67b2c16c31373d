// demo_driver.h - a streamer's session at the control panel, played with
// window messages from host-sim's process: fill in a vote and start it,
// wait for the audience, end it, show the results, confirm one comment for
// display, and keep pictures of every step.
//
// Main thread only. Waits go through the session's waiter, which keeps the
// capture going meanwhile.
#ifndef TOOLS_HOST_SIM_DEMO_DRIVER_H
#define TOOLS_HOST_SIM_DEMO_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "panel/live/interaction_engine.h"
#include "tools/host-sim/console_output.h"
#include "tools/host-sim/core/session_report.h"
#include "tools/host-sim/frame_capture.h"
#include "tools/host-sim/panel_window.h"

namespace host_sim {

class DemoDriver {
 public:
  // Polls `done` until it holds (true) or `timeout_ms` passed (false).
  using Waiter = std::function<bool(const std::function<bool()>& done, DWORD timeout_ms)>;

  // Pictures go into `out_dir` (ending in a backslash); findings into
  // `report` (votes, confirmed, files, pngs_written, problems).
  DemoDriver(DWORD panel_process, FrameCapture& capture, ConsoleOutput& out, std::wstring out_dir,
             Waiter wait, SessionReport& report);

  // Before the audience: finds the window, saves overlay-idle.png, types the
  // title, labels and keywords, clicks Start and checks that the vote runs.
  // False (with a problem recorded) when the demo cannot go on.
  bool start_vote(const std::string& title, const std::vector<tessaly::InteractionChoice>& choices);

  // After the audience: waits until the window's counts reach `expected`
  // (the choices with the votes the panel should have), records what it
  // shows, clicks End and Show results (overlay-results.png), confirms a
  // candidate comment (overlay-comment.png) and saves control-panel.png.
  void finish(const std::vector<tessaly::InteractionChoice>& expected);

 private:
  // Saves the next frame that left the panel after this call as `name`;
  // its hash goes to `hash`.
  bool save_fresh_frame(const wchar_t* name, uint64_t* hash);
  bool save_pixels(const wchar_t* name, const uint8_t* pixels, uint32_t width, uint32_t height);
  // Closes a message box of the panel, if one is open, keeping its text in
  // *text; false when none is open.
  bool take_message_box(std::string* text);
  void problem(const std::string& text);
  void confirm_candidate();

  const DWORD process_;
  FrameCapture& capture_;
  ConsoleOutput& out_;
  const std::wstring out_dir_;
  const Waiter wait_;
  SessionReport& report_;
  PanelWindow window_{nullptr};
  uint64_t idle_hash_ = 0;
  uint64_t results_hash_ = 0;
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_DEMO_DRIVER_H
