#include "panel/pipe_callback.h"

#include <memory>
#include <mutex>
#include <string>

#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "panel/app_context.h"
#include "panel/live/live_event.h"
#include "panel/subscribe.h"
#include "panel/window_messages.h"

namespace tessaly {

namespace {

void post(const AppContext& app, UINT message) { app.post_message(app.hwnd, message, 0, 0); }

// Hands a heap copy of `comment` to the window. On success the window owns
// the copy; on failure (the post is refused, or the copy cannot be made)
// nothing is left behind and `comment` is as it was.
bool post_comment(const AppContext& app, LiveComment& comment) noexcept {
  try {
    auto copy = std::make_unique<LiveComment>(std::move(comment));
    if (app.post_message(app.hwnd, kMsgComment, 0, reinterpret_cast<LPARAM>(copy.get()))) {
      copy.release();
      return true;
    }
    comment = std::move(*copy);
  } catch (...) {
    // Only the copy's allocation throws, before anything was moved.
  }
  return false;
}

// A comment that never reached the window. Windows refuses a post when the
// thread's queue holds 10000 messages already (a busy UI thread under a
// flood of comments). The id is taken back so that the host's redelivery of
// the comment counts. The running total is in the text, so the flood filter
// alone would let every line through: the line is written at the first loss
// and whenever the total doubles.
void comment_lost(AppContext& app, const LiveComment& comment) {
  {
    std::lock_guard<std::mutex> lock(app.dedupe_mutex);
    app.deduper.forget(comment.msg_id);
  }
  const std::uint64_t lost = ++app.comments_lost;
  if ((lost & (lost - 1)) == 0) {
    BRISQ_LOG_AT(WARNING) << "Failed to PostMessage(comment), lost so far: " << lost;
  }
}

void on_message(AppContext& app, const char* data, std::uint32_t length) {
  ParsedLiveEvent event;
  std::string error;
  if (!parse_live_event(std::string(data, length), event, error)) return;  // dropped silently
  if (event.window_focused) post(app, kMsgFocus);
  if (event.window_closed) {
    post(app, kMsgCloseRequest);
    return;  // the panel is closing: this message's comments are not wanted
  }
  for (LiveComment& comment : event.comments) {
    bool fresh = false;
    {
      std::lock_guard<std::mutex> lock(app.dedupe_mutex);
      fresh = app.deduper.accept(comment.msg_id);
    }
    if (fresh && !post_comment(app, comment)) comment_lost(app, comment);
  }
}

}  // namespace

void pipe_callback(IPC_EVENT_TYPE event, std::uint32_t /*type*/, const char* data,
                   std::uint32_t length, void* context) {
  auto* app = static_cast<AppContext*>(context);
  if (app == nullptr) return;
  // The library's reader thread must not see an exception: the event is
  // dropped. A comment accepted but not posted has been taken back above.
  try {
    switch (event) {
      case EVENT_CONNECTED:
        app->connected.exchange(true);
        subscribe(*app, "OPEN_LIVE_DATA");
        subscribe(*app, "OPEN_WIN_FOCUS");
        subscribe(*app, "OPEN_WIN_CLOSE");
        post(*app, kMsgConnected);
        break;
      case EVENT_BROKEN:
      case EVENT_CONNECTION_RESET:
        app->connected.exchange(false);
        post(*app, kMsgLinkBroken);
        break;
      case EVENT_DISCONNECTED:
        app->connected.exchange(false);
        post(*app, kMsgHostDisconnected);
        break;
      case EVENT_MESSAGE:
        if (data != nullptr && length > 0) on_message(*app, data, length);
        break;
      default:
        break;
    }
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to pipe_callback");
  }
}

}  // namespace tessaly
