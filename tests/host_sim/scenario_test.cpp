#include "tools/host-sim/core/scenario.h"

#include <gtest/gtest.h>

#include "panel/live/minijson.h"
#include "tools/host-sim/core/json_writer.h"

namespace host_sim {
namespace {

TEST(Scenario, ReadsStepsSkippingCommentsAndLineEnds) {
  const std::string file =
      "\xEF\xBB\xBF# a comment\r\n"
      "\n"
      "   \t\n"
      "{\"delay_ms\":250,\"text\":{\"b\":[1,2.50,\"\xE4\xBD\xA0\\\"\"],\"a\":null}}\r\n"
      "  # indented comment\n"
      "{\"text\":\"not json {\"}";
  std::vector<ScenarioStep> steps;
  std::string error;
  ASSERT_TRUE(parse_scenario(file, "s.jsonl", steps, error)) << error;
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].delay_ms, 250u);
  // Members in key order, numbers as written, strings re-escaped.
  EXPECT_EQ(steps[0].text, "{\"a\":null,\"b\":[1,2.50,\"\xE4\xBD\xA0\\\"\"]}");
  EXPECT_EQ(steps[1].delay_ms, 0u);
  EXPECT_EQ(steps[1].text, "not json {");
}

TEST(Scenario, WrittenObjectsReadBackEqual) {
  const std::string source = "{\"z\":{\"y\":[true,false,{}],\"x\":\"\\u0001\\n\"},\"e\":-1e-3}";
  minijson::Value value;
  std::string error;
  ASSERT_TRUE(minijson::parse(source, value, error));
  minijson::Value again;
  ASSERT_TRUE(minijson::parse(write_json(value), again, error)) << error;
  EXPECT_EQ(write_json(again), write_json(value));
  EXPECT_EQ(again.get("z")->get("x")->text, "\x01\n");
}

TEST(Scenario, BadLinesNameFileLineAndReason) {
  struct Case {
    const char* line;
    const char* reason;
  };
  const Case cases[] = {
      {"{\"text\":\"a\"", "not valid JSON: "},
      {"[1]", "a step must be a JSON object"},
      {"{\"delay_ms\":5}", "\"text\" is missing"},
      {"{\"text\":12}", "\"text\" must be a string, an object or an array"},
      {"{\"text\":\"\"}", "\"text\" is empty"},
      {"{\"text\":\"a\",\"delay_ms\":-1}", "\"delay_ms\" must be a whole number from 0 to 3600000"},
      {"{\"text\":\"a\",\"delay_ms\":1.5}", "\"delay_ms\" must be a whole number"},
      {"{\"text\":\"a\",\"delay_ms\":\"5\"}", "\"delay_ms\" must be a whole number"},
      {"{\"text\":\"a\",\"delay_ms\":3600001}", "\"delay_ms\" must be a whole number"},
      {"{\"text\":\"a\",\"delay\":5}", "unknown member \"delay\""},
  };
  for (const Case& c : cases) {
    // The bad line is the fourth: a good step, a comment and a blank line
    // come first and still count as lines.
    const std::string file = "{\"text\":\"ok\"}\n# note\n\n" + std::string(c.line) + "\n";
    std::vector<ScenarioStep> steps;
    std::string error;
    EXPECT_FALSE(parse_scenario(file, "dir/s.jsonl", steps, error)) << c.line;
    EXPECT_EQ(error.rfind(std::string("dir/s.jsonl:4: ") + c.reason, 0), 0u)
        << c.line << " -> " << error;
  }
}

TEST(Scenario, FileWithoutStepsIsAnError) {
  std::vector<ScenarioStep> steps;
  std::string error;
  EXPECT_FALSE(parse_scenario("# only a comment\n\n", "empty.jsonl", steps, error));
  EXPECT_EQ(error, "empty.jsonl: no steps");
}

}  // namespace
}  // namespace host_sim
