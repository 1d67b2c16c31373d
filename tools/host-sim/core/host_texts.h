// host_texts.h - the JSON texts host-sim exchanges with the panel.
//
// The panel reads any envelope: it walks the whole tree for comment objects
// ("msg_type_str" "live_comment") and for "eventName" members. So every text
// written here must carry "eventName" only where a window notice is meant:
// an "OPEN_WIN_CLOSE" anywhere in a text closes the panel.
#ifndef TOOLS_HOST_SIM_CORE_HOST_TEXTS_H
#define TOOLS_HOST_SIM_CORE_HOST_TEXTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "panel/live/live_event.h"

namespace host_sim {

// Live data carrying `comments` in order:
// {"type":"event","event":"live_data","data":[{"msg_type_str":"live_comment",
//  "msg_id":..,"sec_open_id":..,"nickname":..,"content":..,"timestamp":n},..]}
std::string live_data_text(const std::vector<tessaly::LiveComment>& comments);

// A window notice: {"type":"event","eventName":"<event_name>"}.
std::string notice_text(const std::string& event_name);

// A subscribe request as the panel sends it.
struct SubscribeRequest {
  std::string request_id;  // "reqId"
  std::string event_name;  // "params"."eventName"
  int64_t timestamp = 0;   // "params"."timestamp"; 0 when absent
};

// True when `text` is a JSON object with "type" "request", "method"
// "x.subscribeEvent", a string "reqId" and a non-empty string
// "params"."eventName"; then fills `request`.
bool read_subscribe_request(const std::string& text, SubscribeRequest& request);

// host-sim's acknowledgement of a subscribe request:
// {"type":"response","reqId":"<id>","code":0,"message":"ok"}. It carries no
// "eventName", so the panel finds nothing in it.
std::string subscribe_answer(const SubscribeRequest& request);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_HOST_TEXTS_H
