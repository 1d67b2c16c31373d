#include "panel/live/live_event.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

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

// The ids of the comments found, then "+closed" and "+focused" for the window
// notices, space-separated.
std::string summary(const ParsedLiveEvent& event) {
  std::string out;
  for (const LiveComment& c : event.comments) out += " " + c.msg_id;
  if (event.window_closed) out += " +closed";
  if (event.window_focused) out += " +focused";
  return out.empty() ? out : out.substr(1);
}

std::string summary_of(const std::string& text) { return summary(read_ok(text)); }

// The one comment `text` holds, as "msg_id|sec_open_id|nickname|content|timestamp".
std::string only_comment(const std::string& text) {
  const ParsedLiveEvent event = read_ok(text);
  if (event.comments.size() != 1) return std::to_string(event.comments.size()) + " comments";
  const LiveComment& c = event.comments[0];
  return c.msg_id + "|" + c.sec_open_id + "|" + c.nickname + "|" + c.content + "|" +
         std::to_string(c.timestamp);
}

// A comment object with the given id (and content "hi").
std::string comment(const std::string& id) {
  return "{\"msg_type_str\":\"live_comment\",\"msg_id\":\"" + id + "\",\"content\":\"hi\"}";
}

// An event still holding what an earlier read left in it.
ParsedLiveEvent stale_event() {
  ParsedLiveEvent event;
  event.comments.push_back(LiveComment{"old", "", "", "x", 1});
  event.window_closed = true;
  event.window_focused = true;
  return event;
}

// --- Results of reading: failure, emptying, error text ----------------------

TEST(LiveEventResult, InvalidJsonFailsWithTheReadersMessageAndAnEmptyEvent) {
  ParsedLiveEvent event = stale_event();
  std::string error;
  EXPECT_FALSE(tessaly::parse_live_event("[" + comment("1") + ",", event, error));
  EXPECT_EQ(error, "expected value at byte 61");
  EXPECT_EQ(summary(event), "");
}

TEST(LiveEventResult, SuccessEmptiesTheEventAndLeavesErrorAlone) {
  ParsedLiveEvent event = stale_event();
  std::string error = "earlier";
  EXPECT_TRUE(tessaly::parse_live_event("{\"unrelated\":[1,2,3]}", event, error));
  EXPECT_EQ(error, "earlier");
  EXPECT_EQ(summary(event), "");
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

TEST(LiveEventRecognition, MarkersAreExactAndTheStringMarkerIsTriedFirst) {
  const std::string rest = ",\"msg_id\":\"m\",\"content\":\"c\"}";
  // The last two: a string marker that is not live_comment leaves the decision to msg_type.
  for (const char* markers : {"\"msg_type_str\":\"live_comment\"", "\"msg_type\":2",
                              "\"msg_type\":\"2\"", "\"msg_type\":\" 2\"", "\"msg_type\":\"+2\"",
                              "\"msg_type_str\":\"Live_Comment\",\"msg_type\":2",
                              "\"msg_type_str\":\"gift\",\"msg_type\":\"2\""}) {
    EXPECT_EQ(summary_of("{" + std::string(markers) + rest), "m") << markers;
  }
  for (const char* markers :
       {"\"msg_type\":2.0", "\"msg_type\":2e0", "\"msg_type\":\"2 \"", "\"msg_type\":3",
        "\"msg_type\":true", "\"msg_type\":[2]", "\"msg_type_str\":\"Live_Comment\"",
        "\"msg_type_str\":\"live_comment \"", "\"msg_type_str\":[\"live_comment\"]",
        "\"msgType\":2", "\"type\":\"live_comment\""}) {
    EXPECT_EQ(summary_of("{" + std::string(markers) + rest), "") << markers;
  }
}

TEST(LiveEventRecognition, WindowNoticesAtAnyDepthAndBesideComments) {
  EXPECT_EQ(summary_of("{\"data\":[{\"eventName\":\"OPEN_WIN_FOCUS\"}," + comment("7") + "]}"),
            "7 +focused");
  EXPECT_EQ(summary_of("[{\"eventName\":\"OPEN_WIN_CLOSE\"},"
                       "{\"x\":{\"y\":{\"eventName\":\"OPEN_WIN_FOCUS\"}}}]"),
            "+closed +focused");
  // The notice test does not end the object's treatment: the same object can
  // also be a comment.
  EXPECT_EQ(summary_of("{\"eventName\":\"OPEN_WIN_CLOSE\",\"msg_type\":2,\"msg_id\":\"1\","
                       "\"content\":\"c\"}"),
            "1 +closed");
  // Exact, case-sensitive, text only; and a notice inside a comment is not looked at.
  for (const char* text :
       {"{\"eventName\":\"open_win_close\"}", "{\"eventName\":\"OPEN_WIN_CLOSE \"}",
        "{\"eventName\":[\"OPEN_WIN_CLOSE\"]}", "{\"EventName\":\"OPEN_WIN_FOCUS\"}"}) {
    EXPECT_EQ(summary_of(text), "") << text;
  }
  EXPECT_EQ(summary_of("{\"msg_type\":2,\"msg_id\":\"1\",\"content\":\"c\","
                       "\"extra\":{\"eventName\":\"OPEN_WIN_CLOSE\"}}"),
            "1");
}

// --- Walk order -------------------------------------------------------------

TEST(LiveEventWalk, ArraysInOrderMembersByKeyBytes) {
  EXPECT_EQ(summary_of("[" + comment("1") + "," + comment("2") + "]"), "1 2");
  EXPECT_EQ(summary_of("{\"b\":" + comment("B") + ",\"a\":" + comment("A") + "}"), "A B");
  // Depth-first: everything under "a" comes before anything under "b".
  EXPECT_EQ(summary_of("{\"b\":[" + comment("b1") + "],\"a\":[" + comment("a1") + ",{\"z\":" +
                       comment("a2") + "}," + comment("a3") + "],\"B\":" + comment("B") + "}"),
            "B a1 a2 a3 b1");
}

TEST(LiveEventWalk, CommentIsALeafAndRepeatedKeysKeepTheLast) {
  EXPECT_EQ(summary_of("{\"msg_type_str\":\"live_comment\",\"msg_id\":\"outer\",\"content\":\"o\","
                       "\"reply\":" +
                       comment("inner") + "}"),
            "outer");
  // A dropped comment still hides what it holds.
  EXPECT_EQ(summary_of("{\"msg_type\":2,\"content\":\"c\",\"x\":" + comment("inner") + "}"), "");
  EXPECT_EQ(summary_of("{\"k\":" + comment("first") + ",\"k\":" + comment("second") + "}"),
            "second");
}

// --- Fields of a comment ----------------------------------------------------

TEST(LiveEventFields, FieldsAreCopiedAsSentWithoutTrimming) {
  EXPECT_EQ(
      only_comment(
          "{\"payload\":{\"msg_type_str\":\"live_comment\",\"msg_id\":\" id-1 \","
          "\"sec_open_id\":\"u\\u00e9\",\"nickname\":\"\xE5\xB0\x8F\xE6\x98\x8E\","
          "\"content\":\"  \xE6\x94\xAF\xE6\x8C\x81Yes\\n\",\"timestamp\":1700000000123}}"),
      " id-1 |u\xC3\xA9|\xE5\xB0\x8F\xE6\x98\x8E|  \xE6\x94\xAF\xE6\x8C\x81Yes\n|1700000000123");
}

TEST(LiveEventFields, NumbersGiveTheirDigitsOtherKindsGiveNothing) {
  EXPECT_EQ(only_comment("{\"msg_type\":2,\"msg_id\":123,\"content\":1.50e1,\"sec_open_id\":true,"
                         "\"nickname\":{\"n\":\"x\"}}"),
            "123|||1.50e1|0");
}

TEST(LiveEventFields, CommentWithoutIdOrContentIsDroppedAlone) {
  // Members after "msg_type":2.
  for (const char* bad :
       {"\"content\":\"c\"", "\"msg_id\":\"\",\"content\":\"c\"",
        "\"msg_id\":null,\"content\":\"c\"", "\"msg_id\":{},\"content\":\"c\"", "\"msg_id\":\"m\"",
        "\"msg_id\":\"m\",\"content\":\"\"", "\"msg_id\":\"m\",\"content\":false",
        "\"msg_id\":\"m\",\"content\":[\"c\"]"}) {
    EXPECT_EQ(
        summary_of("[" + comment("1") + ",{\"msg_type\":2," + bad + "}," + comment("2") + "]"),
        "1 2")
        << bad;
  }
  // Content of white space only is not empty here (trimming belongs to the
  // vote engine).
  EXPECT_EQ(read_ok("{\"msg_type\":2,\"msg_id\":\"m\",\"content\":\" \"}").comments.size(), 1u);
}

TEST(LiveEventFields, TimestampIsZeroUnlessAWholeInRangeInteger) {
  const std::string head = "{\"msg_type\":2,\"msg_id\":\"m\",\"content\":\"c\"";
  EXPECT_EQ(only_comment(head + "}"), "m|||c|0");
  const std::pair<const char*, std::int64_t> whole[] = {
      {"1700000000000", 1700000000000},
      {"-5", -5},
      {"\"1700000000000\"", 1700000000000},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& c : whole) {
    EXPECT_EQ(only_comment(head + ",\"timestamp\":" + c.first + "}"),
              "m|||c|" + std::to_string(c.second));
  }
  for (const char* other : {"9223372036854775808", "1.5", "1e3", "\"12ms\"", "null", "[1]"}) {
    EXPECT_EQ(only_comment(head + ",\"timestamp\":" + other + "}"), "m|||c|0");
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
