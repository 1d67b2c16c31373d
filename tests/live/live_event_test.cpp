#include "panel/live/live_event.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "panel/live/minijson.h"

namespace {

using tessaly::LiveComment;
using tessaly::ParsedLiveEvent;

ParsedLiveEvent read_ok(const std::string& text) {
  ParsedLiveEvent event;
  std::string error;
  EXPECT_TRUE(tessaly::parse_live_event(text, event, error)) << text << ": " << error;
  return event;
}

std::vector<std::string> ids_of(const ParsedLiveEvent& event) {
  std::vector<std::string> ids;
  for (const LiveComment& c : event.comments) ids.push_back(c.msg_id);
  return ids;
}

// A comment object with the given id (and content "hi").
std::string comment(const std::string& id) {
  return "{\"msg_type_str\":\"live_comment\",\"msg_id\":\"" + id + "\",\"content\":\"hi\"}";
}

// --- Results of reading: failure, emptying, error text ----------------------

TEST(LiveEventResult, InvalidJsonFailsWithTheReadersMessageAndAnEmptyEvent) {
  ParsedLiveEvent event;
  event.comments.push_back(LiveComment{"old", "", "", "x", 1});
  event.window_closed = true;
  event.window_focused = true;
  std::string error;
  EXPECT_FALSE(tessaly::parse_live_event("[" + comment("1") + ",", event, error));
  EXPECT_EQ(error, "expected value at byte 61");
  EXPECT_TRUE(event.comments.empty());
  EXPECT_FALSE(event.window_closed);
  EXPECT_FALSE(event.window_focused);
}

TEST(LiveEventResult, SuccessEmptiesTheEventAndLeavesErrorAlone) {
  ParsedLiveEvent event;
  event.comments.push_back(LiveComment{"old", "", "", "x", 1});
  event.window_closed = true;
  std::string error = "earlier";
  EXPECT_TRUE(tessaly::parse_live_event("{\"unrelated\":[1,2,3]}", event, error));
  EXPECT_EQ(error, "earlier");
  EXPECT_TRUE(event.comments.empty());
  EXPECT_FALSE(event.window_closed);
  EXPECT_FALSE(event.window_focused);
  EXPECT_TRUE(tessaly::parse_live_event("null", event, error));
  EXPECT_TRUE(tessaly::parse_live_event("\"live_comment\"", event, error));
  EXPECT_TRUE(event.comments.empty());
}

TEST(LiveEventResult, DeepNestingFailsCleanly) {
  ParsedLiveEvent event;
  std::string error;
  EXPECT_FALSE(tessaly::parse_live_event(std::string(100000, '['), event, error));
  EXPECT_EQ(error, "nesting deeper than 512 levels at byte 512");
}

// --- Which objects are comments ---------------------------------------------

struct MarkerCase {
  const char* markers;  // members placed before msg_id and content
  bool is_comment;
};

TEST(LiveEventRecognition, MarkersAreExactAndTheStringMarkerIsTriedFirst) {
  const MarkerCase cases[] = {
      {"\"msg_type_str\":\"live_comment\"", true},
      {"\"msg_type\":2", true},
      {"\"msg_type\":\"2\"", true},
      {"\"msg_type\":\" 2\"", true},
      {"\"msg_type\":\"+2\"", true},
      {"\"msg_type\":2.0", false},
      {"\"msg_type\":2e0", false},
      {"\"msg_type\":\"2 \"", false},
      {"\"msg_type\":3", false},
      {"\"msg_type\":true", false},
      {"\"msg_type\":[2]", false},
      {"\"msg_type_str\":\"Live_Comment\"", false},
      {"\"msg_type_str\":\"live_comment \"", false},
      {"\"msg_type_str\":[\"live_comment\"]", false},
      {"\"msg_type_str\":\"Live_Comment\",\"msg_type\":2", true},
      {"\"msg_type_str\":\"gift\",\"msg_type\":\"2\"", true},
      {"\"msgType\":2", false},
      {"\"type\":\"live_comment\"", false},
  };
  for (const MarkerCase& c : cases) {
    const std::string text = std::string("{") + c.markers + ",\"msg_id\":\"m\",\"content\":\"c\"}";
    EXPECT_EQ(read_ok(text).comments.size(), c.is_comment ? 1u : 0u) << text;
  }
}

TEST(LiveEventRecognition, WindowNoticesAtAnyDepthAndBesideComments) {
  ParsedLiveEvent focus =
      read_ok("{\"data\":[{\"eventName\":\"OPEN_WIN_FOCUS\"}," + comment("7") + "]}");
  EXPECT_TRUE(focus.window_focused);
  EXPECT_FALSE(focus.window_closed);
  EXPECT_EQ(ids_of(focus), std::vector<std::string>{"7"});

  ParsedLiveEvent both = read_ok(
      "[{\"eventName\":\"OPEN_WIN_CLOSE\"},{\"x\":{\"y\":{\"eventName\":\"OPEN_WIN_FOCUS\"}}}]");
  EXPECT_TRUE(both.window_closed);
  EXPECT_TRUE(both.window_focused);

  // The notice test does not end the object's treatment: the same object can
  // also be a comment.
  ParsedLiveEvent same = read_ok(
      "{\"eventName\":\"OPEN_WIN_CLOSE\",\"msg_type\":2,\"msg_id\":\"1\",\"content\":\"c\"}");
  EXPECT_TRUE(same.window_closed);
  EXPECT_EQ(same.comments.size(), 1u);

  // Exact, case-sensitive, text only.
  EXPECT_FALSE(read_ok("{\"eventName\":\"open_win_close\"}").window_closed);
  EXPECT_FALSE(read_ok("{\"eventName\":\"OPEN_WIN_CLOSE \"}").window_closed);
  EXPECT_FALSE(read_ok("{\"eventName\":[\"OPEN_WIN_CLOSE\"]}").window_closed);
  EXPECT_FALSE(read_ok("{\"EventName\":\"OPEN_WIN_FOCUS\"}").window_focused);
  // A notice inside a comment is not looked at.
  EXPECT_FALSE(read_ok("{\"msg_type\":2,\"msg_id\":\"1\",\"content\":\"c\","
                       "\"extra\":{\"eventName\":\"OPEN_WIN_CLOSE\"}}")
                   .window_closed);
}

// --- Walk order -------------------------------------------------------------

TEST(LiveEventWalk, ArraysInOrderMembersByKeyBytes) {
  EXPECT_EQ(ids_of(read_ok("[" + comment("1") + "," + comment("2") + "]")),
            (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(ids_of(read_ok("{\"b\":" + comment("B") + ",\"a\":" + comment("A") + "}")),
            (std::vector<std::string>{"A", "B"}));
  // Depth-first: everything under "a" comes before anything under "b".
  EXPECT_EQ(ids_of(read_ok("{\"b\":[" + comment("b1") + "],\"a\":[" + comment("a1") + ",{\"z\":" +
                           comment("a2") + "}," + comment("a3") + "],\"B\":" + comment("B") + "}")),
            (std::vector<std::string>{"B", "a1", "a2", "a3", "b1"}));
}

TEST(LiveEventWalk, CommentIsALeafAndRepeatedKeysKeepTheLast) {
  const std::string nested =
      "{\"msg_type_str\":\"live_comment\",\"msg_id\":\"outer\",\"content\":\"o\","
      "\"reply\":" +
      comment("inner") + "}";
  EXPECT_EQ(ids_of(read_ok(nested)), std::vector<std::string>{"outer"});
  // A dropped comment still hides what it holds.
  EXPECT_TRUE(read_ok("{\"msg_type\":2,\"content\":\"c\",\"x\":" + comment("inner") + "}")
                  .comments.empty());
  EXPECT_EQ(ids_of(read_ok("{\"k\":" + comment("first") + ",\"k\":" + comment("second") + "}")),
            std::vector<std::string>{"second"});
}

// --- Fields of a comment ----------------------------------------------------

TEST(LiveEventFields, FieldsAreCopiedAsSentWithoutTrimming) {
  const ParsedLiveEvent event = read_ok(
      "{\"payload\":{\"msg_type_str\":\"live_comment\",\"msg_id\":\" id-1 \","
      "\"sec_open_id\":\"u\\u00e9\",\"nickname\":\"\xE5\xB0\x8F\xE6\x98\x8E\","
      "\"content\":\"  \xE6\x94\xAF\xE6\x8C\x81"
      "A\\n\",\"timestamp\":1700000000123}}");
  ASSERT_EQ(event.comments.size(), 1u);
  const LiveComment& c = event.comments[0];
  EXPECT_EQ(c.msg_id, " id-1 ");
  EXPECT_EQ(c.sec_open_id, "u\xC3\xA9");
  EXPECT_EQ(c.nickname, "\xE5\xB0\x8F\xE6\x98\x8E");
  EXPECT_EQ(c.content,
            "  \xE6\x94\xAF\xE6\x8C\x81"
            "A\n");
  EXPECT_EQ(c.timestamp, 1700000000123);
}

TEST(LiveEventFields, NumbersGiveTheirDigitsOtherKindsGiveNothing) {
  const ParsedLiveEvent event = read_ok(
      "{\"msg_type\":2,\"msg_id\":123,\"content\":1.50e1,\"sec_open_id\":true,"
      "\"nickname\":{\"n\":\"x\"}}");
  ASSERT_EQ(event.comments.size(), 1u);
  EXPECT_EQ(event.comments[0].msg_id, "123");
  EXPECT_EQ(event.comments[0].content, "1.50e1");
  EXPECT_EQ(event.comments[0].sec_open_id, "");
  EXPECT_EQ(event.comments[0].nickname, "");
  EXPECT_EQ(event.comments[0].timestamp, 0);
}

TEST(LiveEventFields, CommentWithoutIdOrContentIsDroppedAlone) {
  const char* const bad[] = {
      "{\"msg_type\":2,\"content\":\"c\"}",
      "{\"msg_type\":2,\"msg_id\":\"\",\"content\":\"c\"}",
      "{\"msg_type\":2,\"msg_id\":null,\"content\":\"c\"}",
      "{\"msg_type\":2,\"msg_id\":{},\"content\":\"c\"}",
      "{\"msg_type\":2,\"msg_id\":\"m\"}",
      "{\"msg_type\":2,\"msg_id\":\"m\",\"content\":\"\"}",
      "{\"msg_type\":2,\"msg_id\":\"m\",\"content\":false}",
      "{\"msg_type\":2,\"msg_id\":\"m\",\"content\":[\"c\"]}",
  };
  for (const char* b : bad) {
    EXPECT_EQ(ids_of(read_ok("[" + comment("1") + "," + b + "," + comment("2") + "]")),
              (std::vector<std::string>{"1", "2"}))
        << b;
  }
  // Content of white space only is not empty here (trimming belongs to the
  // vote engine).
  EXPECT_EQ(read_ok("{\"msg_type\":2,\"msg_id\":\"m\",\"content\":\" \"}").comments.size(), 1u);
}

TEST(LiveEventFields, TimestampIsZeroUnlessAWholeInRangeInteger) {
  struct Case {
    const char* timestamp;  // JSON text of the member, or null for none
    std::int64_t expected;
  };
  const Case cases[] = {
      {nullptr, 0},
      {"1700000000000", 1700000000000},
      {"-5", -5},
      {"\"1700000000000\"", 1700000000000},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"9223372036854775808", 0},
      {"1.5", 0},
      {"1e3", 0},
      {"\"12ms\"", 0},
      {"null", 0},
      {"[1]", 0},
  };
  for (const Case& c : cases) {
    std::string text = "{\"msg_type\":2,\"msg_id\":\"m\",\"content\":\"c\"";
    if (c.timestamp != nullptr) text += std::string(",\"timestamp\":") + c.timestamp;
    text += "}";
    const ParsedLiveEvent event = read_ok(text);
    ASSERT_EQ(event.comments.size(), 1u) << text;
    EXPECT_EQ(event.comments[0].timestamp, c.expected) << text;
  }
}

// --- Texts written for the host ---------------------------------------------

TEST(LiveEventWriters, SubscribeRequestIsExact) {
  EXPECT_EQ(tessaly::make_subscribe_request("subscribe-OPEN_LIVE_DATA-1700000000000",
                                            "OPEN_LIVE_DATA", 1700000000000),
            "{\"type\":\"request\",\"reqId\":\"subscribe-OPEN_LIVE_DATA-1700000000000\","
            "\"method\":\"x.subscribeEvent\",\"params\":{\"eventName\":\"OPEN_LIVE_DATA\","
            "\"timestamp\":1700000000000}}");
  EXPECT_EQ(tessaly::make_subscribe_request("r\"1", "a\\b\n", -42),
            "{\"type\":\"request\",\"reqId\":\"r\\\"1\",\"method\":\"x.subscribeEvent\","
            "\"params\":{\"eventName\":\"a\\\\b\\n\",\"timestamp\":-42}}");
  EXPECT_EQ(tessaly::make_subscribe_request("", "", 0),
            "{\"type\":\"request\",\"reqId\":\"\",\"method\":\"x.subscribeEvent\","
            "\"params\":{\"eventName\":\"\",\"timestamp\":0}}");
  const std::string extreme =
      tessaly::make_subscribe_request("r", "e", std::numeric_limits<std::int64_t>::min());
  EXPECT_NE(extreme.find("\"timestamp\":-9223372036854775808}}"), std::string::npos);
}

TEST(LiveEventWriters, CommentFormIsExactAndEscaped) {
  const LiveComment c{"m\"1", "u/2", "\xE5\xB0\x8F\xE6\x98\x8E", "say \"hi\"\t\xE4\xBD\xA0", -7};
  EXPECT_EQ(tessaly::serialize_comment(c),
            "{\"platform\":\"zamuri\",\"messageId\":\"m\\\"1\",\"userId\":\"u/2\","
            "\"nickname\":\"\xE5\xB0\x8F\xE6\x98\x8E\",\"content\":\"say \\\"hi\\\"\\t"
            "\xE4\xBD\xA0\",\"timestamp\":-7}");
}

TEST(LiveEventWriters, OutputsReadBackToTheSameValues) {
  std::string every_byte;
  for (int b = 1; b < 0x100; ++b) every_byte.push_back(static_cast<char>(b));
  const LiveComment c{"id\x01", every_byte, "n\\", std::string("x\0y", 3), 1700000000000};
  minijson::Value value;
  std::string error;
  ASSERT_TRUE(minijson::parse(tessaly::serialize_comment(c), value, error)) << error;
  EXPECT_EQ(value.get("platform")->text, "zamuri");
  EXPECT_EQ(value.get("messageId")->text, c.msg_id);
  EXPECT_EQ(value.get("userId")->text, c.sec_open_id);
  EXPECT_EQ(value.get("nickname")->text, c.nickname);
  EXPECT_EQ(value.get("content")->text, c.content);
  EXPECT_EQ(value.get("timestamp")->int64_or(0), c.timestamp);

  minijson::Value request;
  ASSERT_TRUE(minijson::parse(tessaly::make_subscribe_request(every_byte, "OPEN_WIN_CLOSE", 5),
                              request, error))
      << error;
  EXPECT_EQ(request.get("reqId")->text, every_byte);
  EXPECT_EQ(request.get("params")->get("eventName")->text, "OPEN_WIN_CLOSE");
  EXPECT_EQ(request.get("params")->get("timestamp")->type, minijson::Value::Type::Number);
}

}  // namespace
