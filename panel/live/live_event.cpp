#include "panel/live/live_event.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "panel/live/minijson.h"

namespace tessaly {

namespace {

using minijson::Value;

// The members the walk looks at, found in one pass over an object's members
// (cheaper than one tree search per name, and every member is visited anyway
// when the object is not a comment). Null where the object has no such key.
struct KnownMembers {
  const Value* event_name = nullptr;
  const Value* msg_type_str = nullptr;
  const Value* msg_type = nullptr;
  Value* msg_id = nullptr;
  Value* sec_open_id = nullptr;
  Value* nickname = nullptr;
  Value* content = nullptr;
  const Value* timestamp = nullptr;
};

// Byte-wise equality with a literal, compared in place (operator== with a
// C string goes through an out-of-line compare).
template <std::size_t N>
bool equals(const std::string& text, const char (&word)[N]) {
  return text.size() == N - 1 && std::memcmp(text.data(), word, N - 1) == 0;
}

KnownMembers find_known_members(Value& object) {
  KnownMembers known;
  for (auto& member : object.members) {
    const std::string& key = member.first;
    Value* value = &member.second;
    switch (key.size()) {
      case 6:
        if (equals(key, "msg_id")) known.msg_id = value;
        break;
      case 7:
        if (equals(key, "content")) known.content = value;
        break;
      case 8:
        if (equals(key, "msg_type"))
          known.msg_type = value;
        else if (equals(key, "nickname"))
          known.nickname = value;
        break;
      case 9:
        if (equals(key, "eventName"))
          known.event_name = value;
        else if (equals(key, "timestamp"))
          known.timestamp = value;
        break;
      case 11:
        if (equals(key, "sec_open_id")) known.sec_open_id = value;
        break;
      case 12:
        if (equals(key, "msg_type_str")) known.msg_type_str = value;
        break;
      default:
        break;
    }
  }
  return known;
}

// A member as text: what its string_or("") gives (a string's content, a
// number's digits as written), or empty when the member is missing. The text
// is moved out of the tree rather than copied: the tree belongs to
// parse_live_event alone and each comment member is taken at most once.
std::string take_field(Value* member) {
  if (member == nullptr ||
      (member->type != Value::Type::String && member->type != Value::Type::Number)) {
    return std::string();
  }
  return std::move(member->text);
}

// True if `member` exists and its string_or("") equals `expected`, which is
// never empty; compares in place instead of copying the text.
template <std::size_t N>
bool text_equals(const Value* member, const char (&expected)[N]) {
  return member != nullptr &&
         (member->type == Value::Type::String || member->type == Value::Type::Number) &&
         equals(member->text, expected);
}

// A comment declares itself by msg_type_str "live_comment" or, failing that,
// by msg_type 2 (the number or a string of its digits).
bool is_comment(const KnownMembers& known) {
  if (text_equals(known.msg_type_str, "live_comment")) return true;
  return known.msg_type != nullptr && known.msg_type->int64_or(-1) == 2;
}

// Depth-first walk. Recursion is bounded by the JSON reader's nesting cap.
// Comment texts are moved out of `value` (see take_field); nothing else in it
// changes, and no part of a comment object is looked at after that.
void visit(Value& value, ParsedLiveEvent& event) {
  if (value.type == Value::Type::Array) {
    for (Value& item : value.items) visit(item, event);
    return;
  }
  if (value.type != Value::Type::Object) return;

  const KnownMembers known = find_known_members(value);
  if (text_equals(known.event_name, "OPEN_WIN_CLOSE")) event.window_closed = true;
  if (text_equals(known.event_name, "OPEN_WIN_FOCUS")) event.window_focused = true;

  if (is_comment(known)) {
    // A comment is a leaf: whatever it holds is not searched further.
    LiveComment comment;
    comment.msg_id = take_field(known.msg_id);
    comment.content = take_field(known.content);
    if (comment.msg_id.empty() || comment.content.empty()) return;
    comment.sec_open_id = take_field(known.sec_open_id);
    comment.nickname = take_field(known.nickname);
    comment.timestamp = known.timestamp != nullptr ? known.timestamp->int64_or(0) : 0;
    event.comments.push_back(std::move(comment));
    return;
  }
  for (auto& member : value.members) visit(member.second, event);
}

}  // namespace

bool parse_live_event(const std::string& text, ParsedLiveEvent& event, std::string& error) {
  event.comments.clear();
  event.window_closed = false;
  event.window_focused = false;
  Value root;
  if (!minijson::parse(text, root, error)) return false;
  visit(root, event);
  return true;
}

std::string make_subscribe_request(const std::string& request_id, const std::string& event_name,
                                   std::int64_t timestamp) {
  std::string out = "{\"type\":\"request\",\"reqId\":\"";
  out += minijson::escape_string(request_id);
  out += "\",\"method\":\"x.subscribeEvent\",\"params\":{\"eventName\":\"";
  out += minijson::escape_string(event_name);
  out += "\",\"timestamp\":";
  out += std::to_string(static_cast<long long>(timestamp));
  out += "}}";
  return out;
}

std::string serialize_comment(const LiveComment& comment) {
  std::string out = "{\"platform\":\"zamuri\",\"messageId\":\"";
  out += minijson::escape_string(comment.msg_id);
  out += "\",\"userId\":\"";
  out += minijson::escape_string(comment.sec_open_id);
  out += "\",\"nickname\":\"";
  out += minijson::escape_string(comment.nickname);
  out += "\",\"content\":\"";
  out += minijson::escape_string(comment.content);
  out += "\",\"timestamp\":";
  out += std::to_string(static_cast<long long>(comment.timestamp));
  out += "}";
  return out;
}

}  // namespace tessaly
