#include "tools/host-sim/core/host_texts.h"

#include "panel/live/minijson.h"

namespace host_sim {
namespace {

void append_member(std::string& out, const char* key, const std::string& value) {
  out += '"';
  out += key;
  out += "\":\"";
  out += minijson::escape_string(value);
  out += '"';
}

const minijson::Value* string_member(const minijson::Value& object, const char* key) {
  const minijson::Value* member = object.get(key);
  return member != nullptr && member->type == minijson::Value::Type::String ? member : nullptr;
}

}  // namespace

std::string live_data_text(const std::vector<tessaly::LiveComment>& comments) {
  std::string out = "{\"type\":\"event\",\"event\":\"live_data\",\"data\":[";
  for (size_t i = 0; i < comments.size(); ++i) {
    const tessaly::LiveComment& c = comments[i];
    if (i != 0) out += ',';
    out += "{\"msg_type_str\":\"live_comment\",";
    append_member(out, "msg_id", c.msg_id);
    out += ',';
    append_member(out, "sec_open_id", c.sec_open_id);
    out += ',';
    append_member(out, "nickname", c.nickname);
    out += ',';
    append_member(out, "content", c.content);
    out += ",\"timestamp\":" + std::to_string(c.timestamp) + "}";
  }
  out += "]}";
  return out;
}

std::string notice_text(const std::string& event_name) {
  std::string out = "{\"type\":\"event\",";
  append_member(out, "eventName", event_name);
  out += '}';
  return out;
}

bool read_subscribe_request(const std::string& text, SubscribeRequest& request) {
  minijson::Value value;
  std::string error;
  if (!minijson::parse(text, value, error)) return false;
  const minijson::Value* type = string_member(value, "type");
  const minijson::Value* method = string_member(value, "method");
  const minijson::Value* id = string_member(value, "reqId");
  const minijson::Value* params = value.get("params");
  if (type == nullptr || type->text != "request" || method == nullptr ||
      method->text != "x.subscribeEvent" || id == nullptr || params == nullptr) {
    return false;
  }
  const minijson::Value* name = string_member(*params, "eventName");
  if (name == nullptr || name->text.empty()) return false;
  request.request_id = id->text;
  request.event_name = name->text;
  const minijson::Value* stamp = params->get("timestamp");
  request.timestamp = stamp != nullptr ? stamp->int64_or(0) : 0;
  return true;
}

std::string subscribe_answer(const SubscribeRequest& request) {
  std::string out = "{\"type\":\"response\",";
  append_member(out, "reqId", request.request_id);
  out += ",\"code\":0,\"message\":\"ok\"}";
  return out;
}

}  // namespace host_sim
