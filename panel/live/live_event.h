#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// One viewer comment as the host reported it. Plain value type; all texts are
// UTF-8 exactly as sent (nothing trimmed). A comment that parse_live_event
// produces always has a non-empty msg_id and a non-empty content.
struct LiveComment {
  std::string msg_id;          // the message's id, the de-duplication key
  std::string sec_open_id;     // the viewer's id
  std::string nickname;        // the viewer's display name
  std::string content;         // the comment text
  std::int64_t timestamp = 0;  // as the host gives it; 0 if absent or not an integer
};

// What one host text carried.
struct ParsedLiveEvent {
  std::vector<LiveComment> comments;  // in walk order (see parse_live_event)
  bool window_closed = false;         // some object had eventName "OPEN_WIN_CLOSE"
  bool window_focused = false;        // some object had eventName "OPEN_WIN_FOCUS"
};

// Reads one host text. Empties `event` first. On invalid JSON returns false,
// leaves `event` empty and sets `error` to the JSON reader's message (ending in
// " at byte " and a position). Otherwise returns true, whether or not anything
// was found, and leaves `error` untouched.
//
// Every object anywhere in the tree is examined: an "eventName" member sets
// the window flags; an object whose "msg_type_str" is "live_comment" (or,
// failing that, whose "msg_type" is the integer 2, as number or string) is a
// comment and is not descended into. Comments lacking msg_id or content are
// dropped. Arrays are walked in order, object members in ascending byte order
// of their keys. Safe on any thread; touches only its arguments.
bool parse_live_event(const std::string& text, ParsedLiveEvent& event, std::string& error);

// The request that subscribes to `event_name`:
// {"type":"request","reqId":"<id>","method":"x.subscribeEvent",
//  "params":{"eventName":"<name>","timestamp":<timestamp>}} with no white space.
std::string make_subscribe_request(const std::string& request_id, const std::string& event_name,
                                   std::int64_t timestamp);

// The comment's output form, without white space:
// {"platform":"zamuri","messageId":"..","userId":"..","nickname":"..",
//  "content":"..","timestamp":<n>}
std::string serialize_comment(const LiveComment& comment);

}  // namespace tessaly
