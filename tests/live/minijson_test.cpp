#include "panel/live/minijson.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>
#include <type_traits>

namespace {

using minijson::Value;
using Type = minijson::Value::Type;

// Parses text that must fail and returns the full error text.
std::string error_of(const std::string& text) {
  Value value;
  std::string error;
  EXPECT_FALSE(minijson::parse(text, value, error)) << "accepted: " << text;
  return error;
}

Value parsed(const std::string& text) {
  Value value;
  std::string error;
  EXPECT_TRUE(minijson::parse(text, value, error)) << text << ": " << error;
  return value;
}

// Writes a value back as compact JSON, members in map order. For a compact
// input with sorted, distinct keys and no escapes this gives the input back.
std::string dump(const Value& value) {
  if (value.type == Type::Null) return "null";
  if (value.type == Type::Bool) return value.boolean ? "true" : "false";
  if (value.type == Type::Number) return value.text;
  if (value.type == Type::String) return "\"" + minijson::escape_string(value.text) + "\"";
  std::string out;
  for (const Value& item : value.items) out += "," + dump(item);
  for (const auto& member : value.members) {
    out += ",\"" + minijson::escape_string(member.first) + "\":" + dump(member.second);
  }
  if (!out.empty()) out.erase(0, 1);
  return value.type == Type::Array ? "[" + out + "]" : "{" + out + "}";
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// True if, throughout the tree, only the alternative named by each value's
// kind holds anything.
bool only_named_alternatives(const Value& value) {
  if (value.type != Type::Bool && value.boolean) return false;
  if (value.type != Type::String && value.type != Type::Number && !value.text.empty()) return false;
  if (value.type != Type::Array && !value.items.empty()) return false;
  if (value.type != Type::Object && !value.members.empty()) return false;
  for (const Value& item : value.items) {
    if (!only_named_alternatives(item)) return false;
  }
  for (const auto& member : value.members) {
    if (!only_named_alternatives(member.second)) return false;
  }
  return true;
}

// Parses `text` (which must succeed) and writes it back with dump, after
// checking that every value holds only its named alternative.
std::string reread(const std::string& text) {
  const Value value = parsed(text);
  EXPECT_TRUE(only_named_alternatives(value)) << text;
  return dump(value);
}

// --- Failure messages and their byte positions ------------------------------

struct FailureCase {
  std::string error;
  std::vector<std::string> inputs;
};

TEST(MinijsonErrors, MessageAndPositionAreExact) {
  const FailureCase cases[] = {
      // Where a value must start.
      {"expected value at byte 0", {""}},
      {"expected value at byte 3", {"   ", "[1,"}},
      {"expected value at byte 5", {"{\"a\":"}},
      {"invalid value at byte 0", {"+1", ".5", "Infinity", "NaN", "'a'"}},
      {"invalid value at byte 3", {"[1,]"}},
      // Literals: only the word is compared, case-sensitively.
      {"invalid literal at byte 0", {"nul", "fals", "nulL"}},
      {"invalid value at byte 2", {"  True"}},
      {"invalid literal at byte 1", {"[tru]"}},
      {"unexpected trailing characters at byte 4", {"truex"}},
      {"unexpected trailing characters at byte 5", {"true false"}},
      // Numbers.
      {"invalid number at byte 1", {"-", "-x"}},
      {"invalid number at byte 2", {"[-]"}},
      {"leading zero in number at byte 1", {"01"}},
      {"leading zero in number at byte 2", {"-01"}},
      {"invalid fraction at byte 2", {"1.", "1.e5"}},
      {"invalid exponent at byte 2", {"1e"}},
      {"invalid exponent at byte 3", {"1e+", "1E-x"}},
      {"unexpected trailing characters at byte 3", {"1.5.2"}},
      // Strings.
      {"unterminated string at byte 4", {"\"abc"}},
      {"control character in string at byte 3", {"\"a\tb\"", std::string("\"a\0b\"", 5)}},
      {"unfinished escape at byte 2", {"\"\\"}},
      {"invalid escape at byte 3", {"\"\\x\"", "\"\\'\""}},
      {"incomplete unicode escape at byte 3", {"\"\\u12\"", "\"\\u12"}},
      {"invalid unicode escape at byte 6", {"\"\\u12G4\""}},
      {"invalid unicode escape at byte 4", {"\"\\uZ000\""}},
      {"unexpected low surrogate at byte 7", {"\"\\uDE00\""}},
      {"missing low surrogate at byte 7", {"\"\\uD83D\"", "\"\\uD83Dx\\uDE00\"", "\"\\uD83D\\n\""}},
      {"invalid low surrogate at byte 13", {"\"\\uD83D\\u0041\"", "\"\\uD83D\\uD83D\""}},
      {"invalid low surrogate at byte 9", {"\"\\uD83D\\u00\""}},
      {"invalid low surrogate at byte 11", {"\"\\uD83D\\u0G00\""}},
      // Arrays and objects.
      {"expected ',' or ']' at byte 3", {"[1 2]"}},
      {"expected ',' or ']' at byte 2", {"[1", "[1}"}},
      {"expected ':' at byte 5", {"{\"a\" 1}"}},
      {"expected ':' at byte 4", {"{\"a\""}},
      {"expected string at byte 7", {"{\"a\":1,}"}},
      {"expected ',' or '}' at byte 6", {"{\"a\":1", "{\"a\":1]"}},
      {"expected string at byte 1", {"{1:2}", "{", "{'a':1}"}},
      // After the top-level value.
      {"unexpected trailing characters at byte 3", {"{} x"}},
      {"unexpected trailing characters at byte 2", {"[]]", "1 2"}},
  };
  for (const FailureCase& c : cases) {
    for (const std::string& input : c.inputs) {
      EXPECT_EQ(error_of(input), c.error) << "input: " << input;
    }
  }
}

TEST(MinijsonErrors, OnlyFourBytesCountAsWhiteSpace) {
  // A byte-order mark, form feed, vertical tab, NUL or no-break space is not
  // skipped: the value then starts with a byte outside the dispatch table.
  const std::string texts[] = {"\xEF\xBB\xBF{}", "\f1", "\v1", std::string("\0 1", 3),
                               "\xC2\xA0[]"};
  for (const std::string& text : texts) {
    EXPECT_EQ(error_of(text), "invalid value at byte 0") << text;
  }
  EXPECT_EQ(error_of("[1\f]"), "expected ',' or ']' at byte 2");
  EXPECT_EQ(reread(" \t\r\n[ \t\r\n1 \t\r\n, 2 ] \t\r\n"), "[1,2]");
}

TEST(MinijsonErrors, ErrorLeftUntouchedOnSuccessAndReplacedOnFailure) {
  Value value;
  std::string error = "earlier";
  ASSERT_TRUE(minijson::parse("[]", value, error));
  EXPECT_EQ(error, "earlier");
  Value again;
  ASSERT_FALSE(minijson::parse("[", again, error));
  EXPECT_EQ(error, "expected value at byte 1");
}

// --- Nesting depth ----------------------------------------------------------

TEST(MinijsonDepth, DeepestAllowedNestingParses) {
  const std::string arrays = std::string(512, '[') + std::string(512, ']');
  EXPECT_EQ(reread(arrays), arrays);
  const std::string objects = repeat("{\"k\":", 511) + "[1]" + std::string(511, '}');
  EXPECT_EQ(reread(objects), objects);
}

TEST(MinijsonDepth, OneLevelTooDeepFailsAtItsBracket) {
  EXPECT_EQ(error_of(std::string(513, '[') + std::string(513, ']')),
            "nesting deeper than 512 levels at byte 512");
  EXPECT_EQ(error_of(repeat("[{\"\":", 256) + "{}"), "nesting deeper than 512 levels at byte 1280");
}

TEST(MinijsonDepth, HugeNestingFailsWithoutExhaustingTheStack) {
  EXPECT_EQ(error_of(std::string(100000, '[')), "nesting deeper than 512 levels at byte 512");
  EXPECT_EQ(error_of(std::string(100000, '{')), "expected string at byte 1");
  EXPECT_EQ(error_of(repeat("{\"a\":", 50000)), "nesting deeper than 512 levels at byte 2560");
}

TEST(MinijsonDepth, DepthIsCountedPerPathNotPerDocument) {
  // Many siblings of depth 500 must not add up to a failure.
  const std::string deep = std::string(500, '[') + std::string(500, ']');
  EXPECT_EQ(parsed("[" + deep + repeat("," + deep, 19) + "]").items.size(), 20u);
}

// --- Structure of parsed values ---------------------------------------------

TEST(MinijsonValues, KindsAndContentOfEachAlternative) {
  EXPECT_EQ(reread(" {\"s\":\"x\",\"n\":-0.50e+3,\"t\":true,\"f\":false,\"z\":null,"
                   "\"a\":[1,\"2\",[]],\"o\":{}} "),
            "{\"a\":[1,\"2\",[]],\"f\":false,\"n\":-0.50e+3,\"o\":{},\"s\":\"x\",\"t\":true,"
            "\"z\":null}");
}

TEST(MinijsonValues, ArraysKeepEveryElementInOrderAtAnySize) {
  // Elements of nested arrays are collected side by side while their outer
  // arrays are still open; sizes around multiples of eight and nesting at
  // every position must not mix them up.
  for (int n = 0; n <= 40; ++n) {
    std::string text = "[";
    for (int i = 0; i < n; ++i) {
      if (i > 0) text += ",";
      if (i % 3 == 1) {
        text += "[";
        for (int j = 0; j < (i * 7) % 19; ++j) text += (j ? "," : "") + std::to_string(i * 100 + j);
        text += "]";
      } else if (i % 5 == 2) {
        text += "{\"a\":[" + std::to_string(i) + ",[\"x\"]],\"b\":" + std::to_string(-i) + "}";
      } else {
        text += std::to_string(i);
      }
    }
    text += "]";
    EXPECT_EQ(reread(text), text);
  }
  // A slot that held a finished element is reused for the next one.
  const std::string reused =
      "[[true,\"s\",[1],{\"o\":1},true,true,true,true,true,true],1,null,\"t\",[],{},2,3,4,5,6]";
  EXPECT_EQ(reread(reused), reused);
  std::string grid = "[";
  for (int row = 0; row < 12; ++row) {
    grid += row ? ",[" : "[";
    for (int col = 0; col < 17; ++col) grid += (col ? "," : "") + std::to_string(row * 17 + col);
    grid += "]";
  }
  grid += "]";
  EXPECT_EQ(reread(grid), grid);
}

TEST(MinijsonValues, CompactSortedTextReadsBackUnchanged) {
  for (const char* text :
       {"[]", "{}", "[[]]", "[{}]", "\"\"", "0", "null",
        "{\"\":0,\"a\":[true,false,null],\"b\":{\"c\":{\"d\":\"e\"}}}",
        "[[[[1]]],[[2],[3,[4,[5]]]],{\"k\":[[],{}]}]",
        "{\"msg\":\"\xE4\xB8\xAD\xE6\x96\x87 text longer than sixteen bytes\",\"n\":-1.5E+10}"}) {
    EXPECT_EQ(reread(text), text);
  }
}

TEST(MinijsonValues, RepeatedKeyKeepsOnlyTheLastValue) {
  EXPECT_EQ(reread("{\"k\":1,\"k\":2}"), "{\"k\":2}");
  // The replacement is whole: nothing of the earlier kind survives.
  EXPECT_EQ(reread("{\"k\":{\"x\":[1]},\"k\":\"s\"}"), "{\"k\":\"s\"}");
}

TEST(MinijsonValues, MembersAreOrderedByKeyBytes) {
  EXPECT_EQ(reread("{\"b\":1,\"a\":2,\"\xE4\xB8\xAD\":3,\"B\":4,\"\":5}"),
            "{\"\":5,\"B\":4,\"a\":2,\"b\":1,\"\xE4\xB8\xAD\":3}");
}

TEST(MinijsonValues, KeysAreComparedByBytes) {
  const Value value = parsed("{\"a\\u0000b\":1,\"a\":2}");
  EXPECT_EQ(value.get(std::string("a\0b", 3))->text, "1");
  EXPECT_EQ(value.get("a")->text, "2");
  EXPECT_EQ(value.get("A"), nullptr);
  EXPECT_EQ(value.get("a "), nullptr);
}

TEST(MinijsonValues, AccessorsOnTheWrongKindGiveTheFallback) {
  EXPECT_EQ(parsed("[{\"a\":1}]").get("a"), nullptr);
  EXPECT_EQ(parsed("\"a\"").get("a"), nullptr);
  for (const char* text : {"[{\"a\":1}]", "true", "null", "{}"}) {
    EXPECT_EQ(parsed(text).string_or("fb"), "fb") << text;
  }
  EXPECT_EQ(parsed("1.5e3").string_or("fb"), "1.5e3");
  EXPECT_EQ(parsed("\"\"").string_or("fb"), "");
  for (const char* text : {"true", "[1]", "{\"a\":1}"}) {
    EXPECT_EQ(parsed(text).int64_or(7), 7) << text;
  }
}

TEST(MinijsonValues, DefaultValueIsAnEmptyNull) {
  const Value value;
  EXPECT_EQ(value.type, Type::Null);
  EXPECT_TRUE(only_named_alternatives(value));
  EXPECT_EQ(sizeof(Value::Type), 4u);
  // Containers must move values when they grow, never deep-copy them.
  EXPECT_TRUE(std::is_nothrow_move_constructible<Value>::value);
}

TEST(MinijsonValues, ReusedOutputValueIsReplacedWhole) {
  Value value = parsed("{\"a\":[1,2]}");
  std::string error;
  ASSERT_TRUE(minijson::parse("\"s\"", value, error));
  EXPECT_EQ(dump(value), "\"s\"");
  EXPECT_TRUE(only_named_alternatives(value));
}

// --- Escapes, surrogates and raw bytes in strings ---------------------------

struct DecodeCase {
  std::string input;
  std::string bytes;
};

TEST(MinijsonStrings, EscapesDecodeToExactBytes) {
  const DecodeCase cases[] = {
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
      {"\"\\u0041\"", "A"},
      {"\"\\u007f\"", "\x7F"},
      {"\"\\u0080\"", "\xC2\x80"},
      {"\"\\u00e9\"", "\xC3\xA9"},
      {"\"\\u00E9\"", "\xC3\xA9"},
      {"\"\\u07FF\"", "\xDF\xBF"},
      {"\"\\u0800\"", "\xE0\xA0\x80"},
      {"\"\\u4E2D\\u6587\"", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"\"\\uFFFF\"", "\xEF\xBF\xBF"},
      {"\"\\uD800\\uDC00\"", "\xF0\x90\x80\x80"},
      {"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"},
      {"\"\\udbff\\udfff\"", "\xF4\x8F\xBF\xBF"},
      {"\"\\u0000\"", std::string("\0", 1)},
      {"\"a\\u0000b\"", std::string("a\0b", 3)},
      {"\"x\\n\\u00e9y\"", "x\n\xC3\xA9y"},
  };
  for (const DecodeCase& c : cases) {
    const Value value = parsed(c.input);
    EXPECT_EQ(value.type, Type::String) << c.input;
    EXPECT_EQ(value.text, c.bytes) << c.input;
  }
}

TEST(MinijsonStrings, RawBytesFromSpaceUpPassUnchanged) {
  // Multi-byte UTF-8 is copied, not validated: even 0xFF and lone
  // continuation bytes pass through.
  std::string body;
  for (int c = 0x20; c < 0x100; ++c) {
    if (c != '"' && c != '\\') body.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(parsed("\"" + body + "\"").text, body);
  EXPECT_EQ(parsed("\"\xFF\"").text, "\xFF");
  EXPECT_EQ(parsed("\"\xE4\xB8\xAD\xE6\x96\x87\"").text, "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(MinijsonStrings, EveryControlByteIsRejected) {
  for (int c = 0; c < 0x20; ++c) {
    const std::string input = std::string("\"ab") + static_cast<char>(c) + "\"";
    EXPECT_EQ(error_of(input), "control character in string at byte 4") << c;
  }
}

TEST(MinijsonStrings, KeysDecodeLikeValues) {
  const Value value = parsed("{\"\\u00e9\\n\":\"\\uD83D\\uDE00\"}");
  const Value* member = value.get("\xC3\xA9\n");
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->text, "\xF0\x9F\x98\x80");
  EXPECT_EQ(error_of("{\"\\uDE00\":1}"), "unexpected low surrogate at byte 8");
}

// --- escape_string ----------------------------------------------------------

TEST(MinijsonEscape, EachByteIsWrittenAsSpecified) {
  EXPECT_EQ(minijson::escape_string(std::string("\"\\\n\x01/", 5)), "\\\"\\\\\\n\\u0001/");
  EXPECT_EQ(minijson::escape_string(std::string("\b\f\r\t", 4)), "\\b\\f\\r\\t");
  EXPECT_EQ(minijson::escape_string(std::string("\0\x1F\x0B", 3)), "\\u0000\\u001f\\u000b");
  EXPECT_EQ(minijson::escape_string("\x7F\xE4\xB8\xAD\xFF"), "\x7F\xE4\xB8\xAD\xFF");
  EXPECT_EQ(minijson::escape_string(""), "");
  EXPECT_EQ(minijson::escape_string("plain text"), "plain text");
  EXPECT_EQ(minijson::escape_string("a\"b\"c"), "a\\\"b\\\"c");
}

TEST(MinijsonEscape, EveryByteRoundTripsThroughTheReader) {
  std::string all;
  for (int c = 0; c < 0x100; ++c) all.push_back(static_cast<char>(c));
  all += all;
  const Value value = parsed("\"" + minijson::escape_string(all) + "\"");
  EXPECT_EQ(value.text, all);
}

// --- Number text and int64_or -----------------------------------------------

TEST(MinijsonNumbers, TextIsKeptExactlyAsWritten) {
  for (const char* number :
       {"0", "-0", "1", "-1", "0.5", "-0.50e+3", "1E5", "1e-0005", "123456789012345678901234567890",
        "1.0000000000000000000000001", "1e999999", "-0.0e0", "100"}) {
    EXPECT_EQ(reread(std::string(" ") + number + " "), number);
  }
  EXPECT_EQ(parsed("[1,-2.5]").items[1].text, "-2.5");
}

TEST(MinijsonNumbers, Int64OrConvertsOnlyWholeInRangeIntegers) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  // Strings are read as strtoll would in the C locale.
  const std::pair<const char*, std::int64_t> whole[] = {
      {"42", 42},
      {"-12", -12},
      {"0", 0},
      {"-0", 0},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", kMin},
      {"\"-12\"", -12},
      {"\" 42\"", 42},
      {"\"\\t\\n\\r 42\"", 42},
      {"\"\\u000b\\u000c7\"", 7},
      {"\"+42\"", 42},
      {"\"007\"", 7},
      {"\"-9223372036854775808\"", kMin},
  };
  for (const auto& c : whole) EXPECT_EQ(parsed(c.first).int64_or(4242), c.second) << c.first;
  for (const char* json :
       {"9223372036854775808", "-9223372036854775809", "99999999999999999999",
        "18446744073709551616", "2.0", "1.0", "1e3", "1E3", "\"9223372036854775808\""}) {
    EXPECT_EQ(parsed(json).int64_or(4242), 4242) << json;
  }
  // The last one is a full-width digit, which is no digit.
  for (const char* json :
       {"\"42 \"", "\"4 2\"", "\"\"", "\" \"", "\"+\"", "\"-\"", "\"+-1\"", "\"- 1\"", "\"0x10\"",
        "\"12a\"", "\"1\\u00002\"", "\"\\u00a042\"", "\"\xEF\xBC\x94\""}) {
    EXPECT_EQ(parsed(json).int64_or(4242), 4242) << json;
  }
}

TEST(MinijsonNumbers, Int64OrNeverTrustsAFallbackLookalike) {
  // The fallback itself must come back unchanged, including its extremes.
  const Value text = parsed("\"x\"");
  EXPECT_EQ(text.int64_or(std::numeric_limits<std::int64_t>::min()),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(text.int64_or(-1), -1);
  EXPECT_EQ(parsed("-1").int64_or(0), -1);
}

}  // namespace
