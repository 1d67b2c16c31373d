// Feeds arbitrary bytes to the JSON reader. Besides memory errors it checks
// the reader's own contract: a failure always carries " at byte <pos>" with a
// position inside the text, only the alternative a value's kind names is
// filled, and an accepted text written back compactly reads back to the same
// compact text (so no element, member or string byte is lost or misplaced).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "panel/live/minijson.h"

namespace {

using minijson::Value;

std::string dump(const Value& value) {
  switch (value.type) {
    case Value::Type::Null:
      return "null";
    case Value::Type::Bool:
      return value.boolean ? "true" : "false";
    case Value::Type::Number:
      return value.text;
    case Value::Type::String:
      return "\"" + minijson::escape_string(value.text) + "\"";
    case Value::Type::Array: {
      std::string out = "[";
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (i > 0) out += ",";
        out += dump(value.items[i]);
      }
      return out + "]";
    }
    case Value::Type::Object: {
      std::string out = "{";
      for (const auto& member : value.members) {
        if (out.size() > 1) out += ",";
        out += "\"" + minijson::escape_string(member.first) + "\":" + dump(member.second);
      }
      return out + "}";
    }
  }
  std::abort();
}

void check_alternatives(const Value& value) {
  const bool textual = value.type == Value::Type::String || value.type == Value::Type::Number;
  if ((value.type != Value::Type::Bool && value.boolean) || (!textual && !value.text.empty()) ||
      (value.type != Value::Type::Array && !value.items.empty()) ||
      (value.type != Value::Type::Object && !value.members.empty())) {
    std::abort();
  }
  for (const Value& item : value.items) check_alternatives(item);
  for (const auto& member : value.members) check_alternatives(member.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Value value;
  std::string error;
  if (minijson::parse(text, value, error)) {
    if (!error.empty()) std::abort();  // success leaves error untouched
    check_alternatives(value);
    (void)value.int64_or(0);
    const std::string compact = dump(value);
    Value again;
    if (!minijson::parse(compact, again, error) || dump(again) != compact) std::abort();
    return 0;
  }
  const std::string marker = " at byte ";
  const std::size_t at = error.rfind(marker);
  if (at == std::string::npos || at == 0) std::abort();
  const std::string digits = error.substr(at + marker.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) std::abort();
  if (std::strtoull(digits.c_str(), nullptr, 10) > size) std::abort();
  return 0;
}
