#include "panel/pipe_callback.h"

#include <memory>
#include <mutex>
#include <string>

#include "panel/app_context.h"
#include "panel/live/live_event.h"
#include "panel/subscribe.h"
#include "panel/window_messages.h"

namespace tessaly {

namespace {

void post(const AppContext& app, UINT message) { ::PostMessageW(app.hwnd, message, 0, 0); }

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
    if (!fresh) continue;
    auto copy = std::make_unique<LiveComment>(std::move(comment));
    // On success the window owns the copy; a failed post leaves it here
    // and it is freed at the end of this iteration.
    if (::PostMessageW(app.hwnd, kMsgComment, 0, reinterpret_cast<LPARAM>(copy.get()))) {
      copy.release();
    }
  }
}

}  // namespace

void pipe_callback(IPC_EVENT_TYPE event, std::uint32_t /*type*/, const char* data,
                   std::uint32_t length, void* context) {
  auto* app = static_cast<AppContext*>(context);
  if (app == nullptr) return;
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
}

}  // namespace tessaly
