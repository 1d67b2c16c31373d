#include "panel/live/interaction_engine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessaly {
namespace {

LiveComment comment(const std::string& content, const std::string& id = "m",
                    const std::string& nickname = "viewer") {
  return LiveComment{id, "open-" + id, nickname, content, 0};
}

std::vector<InteractionChoice> two_choices(const std::string& a, const std::string& b) {
  return {{a, "first", 0}, {b, "second", 0}};
}

// The engine configured with tokens A and B and a vote open, after the given
// comments (each with its content as id).
InteractionEngine voting_engine(std::initializer_list<std::string> contents = {}) {
  InteractionEngine engine;
  engine.configure("Q", two_choices("A", "B"));
  engine.start();
  for (const std::string& content : contents) engine.ingest(comment(content, content));
  return engine;
}

// The engine in one line: "title | token=label:votes ... | total_votes idle|voting | number of
// candidates".
std::string state(const InteractionEngine& engine) {
  std::string out = engine.title + " |";
  for (const InteractionChoice& c : engine.choices) {
    out += " " + c.token + "=" + c.label + ":" + std::to_string(c.votes);
  }
  return out + " | " + std::to_string(engine.total_votes) + (engine.active ? " voting" : " idle") +
         " | " + std::to_string(engine.candidates.size());
}

std::string describe(const CommentCandidate& c) {
  return c.msg_id + "/" + c.nickname + "/" + c.content;
}

// The candidates, newest first, as "msg_id/nickname/content" separated by ", ".
std::string candidates(const InteractionEngine& engine) {
  std::string out;
  for (const CommentCandidate& c : engine.candidates) {
    out += (out.empty() ? "" : ", ") + describe(c);
  }
  return out;
}

// Runs configure on a new engine and returns the exception text, or "" if nothing was thrown.
std::string configure_error(const std::string& title, std::vector<InteractionChoice> choices) {
  try {
    InteractionEngine().configure(title, std::move(choices));
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

void expect_normalized(std::initializer_list<std::pair<std::string, std::string>> cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(InteractionEngine::normalized_token(c.first), c.second) << c.first;
  }
}

// --- Initial state ----------------------------------------------------------

TEST(InteractionEngineDefaults, NewEngineHoldsTheDefaultVote) {
  // Byte values, so a wrong source-file encoding shows up here: 请选择一个选项, 选项一, 选项二.
  EXPECT_EQ(state(InteractionEngine()),
            "\xE8\xAF\xB7\xE9\x80\x89\xE6\x8B\xA9\xE4\xB8\x80\xE4\xB8\xAA\xE9\x80\x89\xE9\xA1\xB9"
            " | 1=\xE9\x80\x89\xE9\xA1\xB9\xE4\xB8\x80:0 2=\xE9\x80\x89\xE9\xA1\xB9\xE4\xBA\x8C:0"
            " | 0 idle | 0");
}

// --- Normalization: what is trimmed and what is upper-cased ----------------

TEST(InteractionEngineNormalization, TrimsExactlyTheSixAsciiSpaces) {
  // An inner space is kept; other controls, U+00A0 and the ideographic space stay.
  expect_normalized({{" \t\n\v\f\rx \t\n\v\f\r", "X"},
                     {" a b ", "A B"},
                     {"\x1Fq\x1C", "\x1FQ\x1C"},
                     {"\xA0q\x85", "\xA0Q\x85"},
                     {"\xC2\xA0q", "\xC2\xA0Q"},
                     {"\xE3\x80\x80q\xE3\x80\x80", "\xE3\x80\x80Q\xE3\x80\x80"},
                     {" \t ", ""},
                     {"", ""},
                     {std::string("\0a", 2), std::string("\0A", 2)}});
}

TEST(InteractionEngineNormalization, UpperCasesOnlyAsciiLetters) {
  // Also not: é, ß and a full-width a.
  expect_normalized({{"azAZ09`{@[_-", "AZAZ09`{@[_-"},
                     {"\xC3\xA9\xC3\x9F", "\xC3\xA9\xC3\x9F"},
                     {"\xEF\xBD\x81", "\xEF\xBD\x81"},
                     {"\xE4\xB8\x80yes", "\xE4\xB8\x80YES"},
                     {"\xFF\x80\xE0", "\xFF\x80\xE0"}});
}

// --- configure: exact texts, order of the checks, nothing changed on a throw -

TEST(InteractionEngineConfigure, StoresTrimmedTitleNormalizedTokensTrimmedLabels) {
  InteractionEngine engine;
  engine.configure("  Q  ", {{" a ", " Yes ", 7}, {"B", "No", 3}});
  EXPECT_EQ(state(engine), "Q | A=Yes:0 B=No:0 | 0 idle | 0");  // counts passed in are discarded
}

TEST(InteractionEngineConfigure, AcceptsTwoToSixChoicesInGivenOrder) {
  InteractionEngine engine;
  std::vector<InteractionChoice> six;
  for (char t : std::string("fedcba")) six.push_back({std::string(1, t), "l", 0});
  engine.configure("Q", six);
  EXPECT_EQ(state(engine), "Q | F=l:0 E=l:0 D=l:0 C=l:0 B=l:0 A=l:0 | 0 idle | 0");
  engine.configure("Q", two_choices("1", "2"));
  EXPECT_EQ(state(engine), "Q | 1=first:0 2=second:0 | 0 idle | 0");
}

TEST(InteractionEngineConfigure, ReportsEachProblemWithItsExactText) {
  const std::string count = "choices must contain 2 to 6 items";
  const std::string blank = "choice token and label are required";
  const std::string unique = "choice tokens must be unique";
  EXPECT_EQ(configure_error("", two_choices("a", "b")), "title is required");
  EXPECT_EQ(configure_error(" \t\r\n", two_choices("a", "b")), "title is required");
  EXPECT_EQ(configure_error("Q", {{"a", "x", 0}}), count);
  EXPECT_EQ(configure_error("Q", {}), count);
  EXPECT_EQ(configure_error("Q", std::vector<InteractionChoice>(7, {"t", "l", 0})), count);
  EXPECT_EQ(configure_error("Q", {{"a", "x", 0}, {"  ", "y", 0}}), blank);
  EXPECT_EQ(configure_error("Q", {{"a", "x", 0}, {"b", "\t", 0}}), blank);
  EXPECT_EQ(configure_error("Q", {{"x", "1", 0}, {"X", "2", 0}}), unique);
  EXPECT_EQ(configure_error("Q", {{"a", "1", 0}, {" A ", "2", 0}}), unique);
  EXPECT_EQ(configure_error("Q", {{"a", "1", 0}, {"b", "2", 0}, {"a", "3", 0}}), unique);
}

TEST(InteractionEngineConfigure, ReportsOnlyTheFirstProblemInCheckOrder) {
  // Empty title beats a bad choice count.
  EXPECT_EQ(configure_error("", {{"a", "x", 0}}), "title is required");
  // A bad count beats an empty first token.
  std::vector<InteractionChoice> seven(7, InteractionChoice{"t", "l", 0});
  seven[0].token = "";
  EXPECT_EQ(configure_error("Q", seven), "choices must contain 2 to 6 items");
  // Choices are checked one by one: a duplicate second choice is found
  // before an empty third one...
  EXPECT_EQ(configure_error("Q", {{"a", "1", 0}, {"A", "2", 0}, {"", "3", 0}}),
            "choice tokens must be unique");
  // ...and an empty second choice before a duplicate third one.
  EXPECT_EQ(configure_error("Q", {{"a", "1", 0}, {"b", "", 0}, {"a", "3", 0}}),
            "choice token and label are required");
}

TEST(InteractionEngineConfigure, DistinguishesTokensThatOnlyLookAlike) {
  // ASCII 1 and full-width 1; a and full-width a; "a b" and "ab".
  EXPECT_EQ(configure_error("Q", {{"1", "x", 0}, {"\xEF\xBC\x91", "y", 0}}), "");
  EXPECT_EQ(configure_error("Q", {{"a", "x", 0}, {"\xEF\xBD\x81", "y", 0}}), "");
  EXPECT_EQ(configure_error("Q", {{"a b", "x", 0}, {"ab", "y", 0}}), "");
}

TEST(InteractionEngineConfigure, FailedConfigureLeavesEverythingAsItWas) {
  InteractionEngine engine = voting_engine({"a", "chatter"});
  const std::pair<std::string, std::vector<InteractionChoice>> bad[] = {
      {"New title", two_choices("x", "X")},            // duplicate found after the first choice
      {"New title", {{"c", "ok", 0}, {"", "no", 0}}},  // empty token in the second choice
      {"New title", {{"c", "ok", 0}}},                 // too few
      {"", two_choices("c", "d")},                     // no title
  };
  for (const auto& b : bad) {
    EXPECT_THROW(engine.configure(b.first, b.second), std::invalid_argument);
    EXPECT_EQ(state(engine), "Q | A=first:1 B=second:0 | 1 voting | 1");
  }
  EXPECT_EQ(engine.ingest(comment("b")), IngestResult::Vote);  // still voting on A/B
}

TEST(InteractionEngineConfigure, ConfigureWhileVotingEndsTheVoteAndKeepsCandidates) {
  InteractionEngine engine = voting_engine({"a", "c1"});
  engine.configure("Next", two_choices("y", "n"));
  EXPECT_EQ(state(engine), "Next | Y=first:0 N=second:0 | 0 idle | 1");
  EXPECT_EQ(candidates(engine), "c1/viewer/c1");
}

// --- ingest: what counts as a vote ------------------------------------------

TEST(InteractionEngineIngest, VoteNeedsTheWholeTrimmedTextToEqualAToken) {
  InteractionEngine engine;
  engine.configure("Q", two_choices("yes", "no way"));
  engine.start();
  for (const char* vote : {" yes ", "\tNO WAY\r\n", "YeS"}) {
    EXPECT_EQ(engine.ingest(comment(vote)), IngestResult::Vote) << vote;
  }
  // Then full-width "yes", and an ideographic space, which is not trimmed.
  for (const char* other : {"yes!", "ye", "yess", "no", "no  way", "yesno way",
                            "\xEF\xBD\x99\xEF\xBD\x85\xEF\xBD\x93", "\xE3\x80\x80yes"}) {
    EXPECT_EQ(engine.ingest(comment(other)), IngestResult::Candidate) << other;
  }
  EXPECT_EQ(state(engine), "Q | YES=first:2 NO WAY=second:1 | 3 voting | 8");
}

TEST(InteractionEngineIngest, NonAsciiTokensMatchByteForByte) {
  InteractionEngine engine;
  engine.configure("Q", {{"\xE6\x94\xAF\xE6\x8C\x81", "x", 0},    // 支持
                         {"\xE5\x8F\x8D\xE5\xAF\xB9", "y", 0}});  // 反对
  engine.start();
  EXPECT_EQ(engine.ingest(comment(" \xE5\x8F\x8D\xE5\xAF\xB9\n")), IngestResult::Vote);
  EXPECT_EQ(engine.ingest(comment("\xE5\x8F\x8D")), IngestResult::Candidate);
  EXPECT_EQ(engine.choices[1].votes, 1u);
}

TEST(InteractionEngineIngest, BlankCommentsAreIgnoredAndChangeNothing) {
  for (bool voting : {false, true}) {
    InteractionEngine engine;
    if (voting) engine.start();
    for (const char* blank : {"", "   ", " \t\n\v\f\r"}) {
      EXPECT_EQ(engine.ingest(comment(blank)), IngestResult::Ignored) << voting;
    }
    EXPECT_TRUE(engine.candidates.empty());
    EXPECT_EQ(engine.total_votes, 0u);
  }
}

TEST(InteractionEngineIngest, EveryMatchingCommentCountsEvenFromOneViewer) {
  InteractionEngine engine = voting_engine();
  LiveComment c = comment("a");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(engine.ingest(c), IngestResult::Vote);
  c.content = "b";
  EXPECT_EQ(engine.ingest(c), IngestResult::Vote);
  EXPECT_EQ(state(engine), "Q | A=first:3 B=second:1 | 4 voting | 0");
}

// --- Candidates: contents, order, cap of 200 -------------------------------

TEST(InteractionEngineCandidates, WhileIdleATokenIsJustACandidate) {
  InteractionEngine engine;
  engine.configure("Q", two_choices("A", "B"));
  EXPECT_EQ(engine.ingest(comment("a")), IngestResult::Candidate);
  EXPECT_EQ(state(engine), "Q | A=first:0 B=second:0 | 0 idle | 1");
  EXPECT_EQ(candidates(engine), "m/viewer/a");
}

TEST(InteractionEngineCandidates, KeepsIdNicknameAndTrimmedContentWithCase) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("  Hello World!\r\n", "id-7", "\xE5\xB0\x8F\xE6\x98\x8E"));
  EXPECT_EQ(candidates(engine), "id-7/\xE5\xB0\x8F\xE6\x98\x8E/Hello World!");
}

TEST(InteractionEngineCandidates, NewestFirstAndOldestDroppedBeyond200) {
  InteractionEngine engine;
  for (int i = 0; i < 201; ++i) engine.ingest(comment("c" + std::to_string(i), std::to_string(i)));
  ASSERT_EQ(engine.candidates.size(), 200u);
  EXPECT_EQ(engine.candidates.front().msg_id, "200");
  EXPECT_EQ(engine.candidates.back().msg_id, "1");  // "0" is gone
}

// Full-list entries are reused for newer comments; texts of changing lengths
// (inside and beyond the small-string buffer) must not leak into each other.
TEST(InteractionEngineCandidates, ReusedEntriesHoldExactlyTheNewComment) {
  InteractionEngine engine;
  auto text = [](int i) {
    return std::string(static_cast<std::size_t>(i % 37), 'x') + std::to_string(i);
  };
  auto nick = [](int i) { return std::string(static_cast<std::size_t>((i * 7) % 29), 'n'); };
  for (int i = 0; i < 650; ++i) {
    engine.ingest(comment(" " + text(i) + " ", "id" + std::to_string(i), nick(i)));
  }
  ASSERT_EQ(engine.candidates.size(), 200u);
  for (int k = 0; k < 200; ++k) {
    const int i = 649 - k;
    ASSERT_EQ(describe(engine.candidates[static_cast<std::size_t>(k)]),
              "id" + std::to_string(i) + "/" + nick(i) + "/" + text(i))
        << k;
  }
}

TEST(InteractionEngineCandidates, IdenticalCommentsAreNotMerged) {
  InteractionEngine engine;
  engine.ingest(comment("same", "1"));
  engine.ingest(comment("same", "1"));
  EXPECT_EQ(candidates(engine), "1/viewer/same, 1/viewer/same");
}

// --- State transitions: start, end, restart ---------------------------------

TEST(InteractionEngineLifecycle, EndKeepsCountsAndStopsCounting) {
  InteractionEngine engine = voting_engine({"a", "b"});
  engine.end();
  EXPECT_EQ(state(engine), "Q | A=first:1 B=second:1 | 2 idle | 0");
  EXPECT_EQ(engine.ingest(comment("a")), IngestResult::Candidate);
  engine.end();  // ending while idle changes nothing
  EXPECT_EQ(state(engine), "Q | A=first:1 B=second:1 | 2 idle | 1");
}

TEST(InteractionEngineLifecycle, StartZeroesEveryCountEvenWhileVoting) {
  InteractionEngine engine = voting_engine({"a", "b"});
  engine.start();  // restart while voting
  EXPECT_EQ(state(engine), "Q | A=first:0 B=second:0 | 0 voting | 0");
  engine.ingest(comment("b"));
  engine.end();
  engine.start();  // end followed by start
  EXPECT_EQ(state(engine), "Q | A=first:0 B=second:0 | 0 voting | 0");
}

TEST(InteractionEngineLifecycle, CandidatesSurviveEveryTransition) {
  InteractionEngine engine;
  engine.ingest(comment("one", "1"));
  engine.start();
  engine.ingest(comment("two", "2"));
  engine.end();
  engine.configure("Q", two_choices("y", "n"));
  engine.start();
  EXPECT_EQ(candidates(engine), "2/viewer/two, 1/viewer/one");
}

TEST(InteractionEngineLifecycle, DefaultVoteCountsDigitTokens) {
  InteractionEngine engine;
  engine.start();
  EXPECT_EQ(engine.ingest(comment(" 1 ")), IngestResult::Vote);
  EXPECT_EQ(engine.ingest(comment("2")), IngestResult::Vote);
  EXPECT_EQ(engine.ingest(comment("\xEF\xBC\x91")), IngestResult::Candidate);  // full-width 1
  EXPECT_EQ(engine.total_votes, 2u);
}

}  // namespace
}  // namespace tessaly
