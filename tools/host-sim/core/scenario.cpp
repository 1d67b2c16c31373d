#include "tools/host-sim/core/scenario.h"

#include "panel/live/minijson.h"
#include "tools/host-sim/core/json_writer.h"

namespace host_sim {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Why one line is not a step, or "" when it is one (then `step` is filled).
std::string read_step(const std::string& line, ScenarioStep& step) {
  minijson::Value value;
  std::string json_error;
  if (!minijson::parse(line, value, json_error)) return "not valid JSON: " + json_error;
  if (value.type != minijson::Value::Type::Object) return "a step must be a JSON object";
  for (const auto& member : value.members) {
    if (member.first != "text" && member.first != "delay_ms") {
      return "unknown member \"" + member.first + "\"";
    }
  }

  step = ScenarioStep{};
  if (const minijson::Value* delay = value.get("delay_ms")) {
    const int64_t ms = delay->type == minijson::Value::Type::Number ? delay->int64_or(-1) : -1;
    if (ms < 0 || ms > kMaxStepDelayMs) {
      return "\"delay_ms\" must be a whole number from 0 to " + std::to_string(kMaxStepDelayMs);
    }
    step.delay_ms = static_cast<uint32_t>(ms);
  }

  const minijson::Value* text = value.get("text");
  if (text == nullptr) return "\"text\" is missing";
  switch (text->type) {
    case minijson::Value::Type::String:
      step.text = text->text;
      break;
    case minijson::Value::Type::Object:
    case minijson::Value::Type::Array:
      step.text = write_json(*text);
      break;
    default:
      return "\"text\" must be a string, an object or an array";
  }
  if (step.text.empty()) return "\"text\" is empty";
  return std::string();
}

}  // namespace

bool parse_scenario(const std::string& contents, const std::string& name,
                    std::vector<ScenarioStep>& steps, std::string& error) {
  steps.clear();
  size_t begin = 0;
  if (contents.compare(0, 3, "\xEF\xBB\xBF") == 0) begin = 3;
  for (size_t line_number = 1; begin < contents.size(); ++line_number) {
    size_t end = contents.find('\n', begin);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    size_t first = 0;
    while (first < line.size() && is_blank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') continue;

    ScenarioStep step;
    const std::string reason = read_step(line, step);
    if (!reason.empty()) {
      error = name + ":" + std::to_string(line_number) + ": " + reason;
      return false;
    }
    steps.push_back(std::move(step));
  }
  if (steps.empty()) {
    error = name + ": no steps";
    return false;
  }
  return true;
}

}  // namespace host_sim
