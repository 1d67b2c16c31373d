#pragma once

// The panel program's one state record and the names shared by its files.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "panel/live/interaction_engine.h"
#include "panel/live/message_deduper.h"
#include "panel/pipe_client_ref.h"
#include "panel/scoped_win.h"

namespace tessaly {

// What the overlay shows (AppContext::overlay_mode); the numbers are fixed.
enum class OverlayMode : std::int32_t { Idle = 0, Results = 1, Comment = 2 };

// The window class of the control panel.
extern const wchar_t* const kWindowClass;

// How many recent comment ids the de-duplication remembers.
constexpr std::size_t kDedupeCapacity = 20000;

// How the host link posts to the window: PostMessageW, or a test's stand-in
// that plays the system refusing a post (a full message queue).
using PostMessageFn = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

// The single state record, created by the entry function once the launch
// options are accepted and destroyed after the message loop, the client and
// the frame thread are done.
//
// Threads: the UI thread (entry function, message loop, window procedure), the
// frame thread (frame_loop) and the library's callback thread (pipe_callback).
// `client` and `hwnd` are written before the other two threads start and only
// read afterwards. `deduper` is guarded by `dedupe_mutex`, `frame_pixels` by
// `frame_mutex`; the two locks are never held together. `stopping` and
// `connected` are atomics. Every other field belongs to the UI thread.
struct AppContext {
  PipeClientRef client;                     // one reference, released at shutdown
  HWND hwnd = nullptr;                      // the control panel, set at WM_NCCREATE
  UniqueFont ui_font;                       // 18 px regular, child controls
  UniqueFont title_font;                    // 26 px bold, panel heading
  InteractionEngine engine;                 // UI thread only
  MessageDeduper deduper{kDedupeCapacity};  // guarded by dedupe_mutex
  std::mutex dedupe_mutex;
  std::mutex frame_mutex;
  std::vector<std::uint8_t> frame_pixels;  // guarded by frame_mutex; empty = no picture
  std::thread frame_thread;                // runs frame_loop
  std::atomic<bool> stopping{false};
  std::atomic<bool> connected{false};
  PostMessageFn post_message = &::PostMessageW;  // set before the callback thread starts
  std::uint64_t comments_lost = 0;               // callback thread: comments the window never got
  bool closing = false;  // WM_CLOSE destroys the window instead of hiding it
  bool results_dirty = false;
  bool candidates_dirty = false;
  bool overlay_dirty = false;
  OverlayMode overlay_mode = OverlayMode::Idle;  // UI thread only
  std::wstring confirmed_text;                   // the comment shown in Comment mode
};

// The running program's AppContext: set before the window class is
// registered, cleared after the message loop's clean-up. The window itself
// works on the context it was created with (GWLP_USERDATA), not on this.
extern AppContext* g_app;

}  // namespace tessaly
