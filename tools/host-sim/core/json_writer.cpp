#include "tools/host-sim/core/json_writer.h"

namespace host_sim {
namespace {

void append_json(const minijson::Value& value, std::string& out) {
  using Type = minijson::Value::Type;
  switch (value.type) {
    case Type::Null:
      out += "null";
      return;
    case Type::Bool:
      out += value.boolean ? "true" : "false";
      return;
    case Type::Number:
      out += value.text;
      return;
    case Type::String:
      out += '"';
      out += minijson::escape_string(value.text);
      out += '"';
      return;
    case Type::Array: {
      out += '[';
      bool first = true;
      for (const minijson::Value& item : value.items) {
        if (!first) out += ',';
        first = false;
        append_json(item, out);
      }
      out += ']';
      return;
    }
    case Type::Object: {
      out += '{';
      bool first = true;
      for (const auto& member : value.members) {
        if (!first) out += ',';
        first = false;
        out += '"';
        out += minijson::escape_string(member.first);
        out += "\":";
        append_json(member.second, out);
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string write_json(const minijson::Value& value) {
  std::string out;
  append_json(value, out);
  return out;
}

}  // namespace host_sim
