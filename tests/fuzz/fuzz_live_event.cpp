// Feeds arbitrary bytes to the live-event reader and checks what it promises
// its callers: every reported comment has an id and a content, a failure
// leaves the event empty, and a comment written back by serialize_comment
// reads as one JSON object.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/live/live_event.h"
#include "panel/live/minijson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tessaly::ParsedLiveEvent event;
  std::string error;
  if (!tessaly::parse_live_event(text, event, error)) {
    if (!event.comments.empty() || event.window_closed || event.window_focused) std::abort();
    return 0;
  }
  for (const tessaly::LiveComment& comment : event.comments) {
    if (comment.msg_id.empty() || comment.content.empty()) std::abort();
    minijson::Value value;
    if (!minijson::parse(tessaly::serialize_comment(comment), value, error)) std::abort();
    const minijson::Value* content = value.get("content");
    if (content == nullptr || content->text != comment.content) std::abort();
  }
  return 0;
}
