#include "panel/live/interaction_engine.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessaly {
namespace {

LiveComment comment(const std::string& content, const std::string& id = "m",
                    const std::string& nickname = "viewer") {
  LiveComment c;
  c.msg_id = id;
  c.sec_open_id = "open-" + id;
  c.nickname = nickname;
  c.content = content;
  return c;
}

std::vector<InteractionChoice> two_choices(const std::string& a, const std::string& b) {
  return {{a, "first", 0}, {b, "second", 0}};
}

// The engine configured with tokens A and B and a vote open.
InteractionEngine voting_engine() {
  InteractionEngine engine;
  engine.configure("Q", two_choices("A", "B"));
  engine.start();
  return engine;
}

// Runs configure and returns the exception text, or "" if nothing was thrown.
std::string configure_error(InteractionEngine& engine, const std::string& title,
                            std::vector<InteractionChoice> choices) {
  try {
    engine.configure(title, std::move(choices));
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

// --- Initial state ----------------------------------------------------------

TEST(InteractionEngineDefaults, NewEngineHoldsTheDefaultVote) {
  const InteractionEngine engine;
  // Byte values, so a wrong source-file encoding shows up here.
  EXPECT_EQ(engine.title,
            "\xE8\xAF\xB7\xE9\x80\x89\xE6\x8B\xA9\xE4\xB8\x80\xE4\xB8\xAA"
            "\xE9\x80\x89\xE9\xA1\xB9");  // 请选择一个选项
  ASSERT_EQ(engine.choices.size(), 2u);
  EXPECT_EQ(engine.choices[0].token, "1");
  EXPECT_EQ(engine.choices[0].label, "\xE9\x80\x89\xE9\xA1\xB9\xE4\xB8\x80");  // 选项一
  EXPECT_EQ(engine.choices[1].token, "2");
  EXPECT_EQ(engine.choices[1].label, "\xE9\x80\x89\xE9\xA1\xB9\xE4\xBA\x8C");  // 选项二
  EXPECT_EQ(engine.choices[0].votes + engine.choices[1].votes, 0u);
  EXPECT_TRUE(engine.candidates.empty());
  EXPECT_EQ(engine.total_votes, 0u);
  EXPECT_FALSE(engine.active);
}

// --- Normalization: what is trimmed and what is upper-cased ----------------

TEST(InteractionEngineNormalization, TrimsExactlyTheSixAsciiSpaces) {
  EXPECT_EQ(InteractionEngine::normalized_token(" \t\n\v\f\rx \t\n\v\f\r"), "X");
  EXPECT_EQ(InteractionEngine::normalized_token(" a b "), "A B");  // inner space kept
  EXPECT_EQ(InteractionEngine::normalized_token("\x1F"
                                                "a\x1C"),
            "\x1F"
            "A\x1C");
  EXPECT_EQ(InteractionEngine::normalized_token("\xA0"
                                                "a\x85"),
            "\xA0"
            "A\x85");
  EXPECT_EQ(InteractionEngine::normalized_token("\xC2\xA0"
                                                "a"),
            "\xC2\xA0"
            "A");  // U+00A0
  EXPECT_EQ(InteractionEngine::normalized_token("\xE3\x80\x80"
                                                "a\xE3\x80\x80"),
            "\xE3\x80\x80"
            "A\xE3\x80\x80");  // ideographic space stays
  EXPECT_EQ(InteractionEngine::normalized_token(" \t "), "");
  EXPECT_EQ(InteractionEngine::normalized_token(""), "");
  EXPECT_EQ(InteractionEngine::normalized_token(std::string("\0a", 2)), std::string("\0A", 2));
}

TEST(InteractionEngineNormalization, UpperCasesOnlyAsciiLetters) {
  EXPECT_EQ(InteractionEngine::normalized_token("azAZ09`{@[_-"), "AZAZ09`{@[_-");
  EXPECT_EQ(InteractionEngine::normalized_token("\xC3\xA9\xC3\x9F"), "\xC3\xA9\xC3\x9F");  // éß
  EXPECT_EQ(InteractionEngine::normalized_token("\xEF\xBD\x81"), "\xEF\xBD\x81");  // full-width a
  EXPECT_EQ(InteractionEngine::normalized_token("\xE4\xB8\x80yes"), "\xE4\xB8\x80YES");
  EXPECT_EQ(InteractionEngine::normalized_token("\xFF\x80\xE0"), "\xFF\x80\xE0");
}

// --- configure: exact texts, order of the checks, nothing changed on a throw -

TEST(InteractionEngineConfigure, StoresTrimmedTitleNormalizedTokensTrimmedLabels) {
  InteractionEngine engine;
  engine.configure("  Q  ", {{" a ", " Yes ", 7}, {"B", "No", 3}});
  EXPECT_EQ(engine.title, "Q");
  ASSERT_EQ(engine.choices.size(), 2u);
  EXPECT_EQ(engine.choices[0].token, "A");
  EXPECT_EQ(engine.choices[0].label, "Yes");
  EXPECT_EQ(engine.choices[1].token, "B");
  EXPECT_EQ(engine.choices[1].label, "No");
  EXPECT_EQ(engine.choices[0].votes, 0u);  // counts passed in are discarded
  EXPECT_EQ(engine.choices[1].votes, 0u);
  EXPECT_EQ(engine.total_votes, 0u);
  EXPECT_FALSE(engine.active);
}

TEST(InteractionEngineConfigure, AcceptsTwoToSixChoicesInGivenOrder) {
  InteractionEngine engine;
  std::vector<InteractionChoice> six;
  for (char t : std::string("fedcba")) six.push_back({std::string(1, t), "l", 0});
  engine.configure("Q", six);
  ASSERT_EQ(engine.choices.size(), 6u);
  EXPECT_EQ(engine.choices[0].token, "F");
  EXPECT_EQ(engine.choices[5].token, "A");
  engine.configure("Q", two_choices("1", "2"));
  EXPECT_EQ(engine.choices.size(), 2u);
}

TEST(InteractionEngineConfigure, ReportsEachProblemWithItsExactText) {
  InteractionEngine engine;
  EXPECT_EQ(configure_error(engine, "", two_choices("a", "b")), "title is required");
  EXPECT_EQ(configure_error(engine, " \t\r\n", two_choices("a", "b")), "title is required");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "x", 0}}), "choices must contain 2 to 6 items");
  EXPECT_EQ(configure_error(engine, "Q", {}), "choices must contain 2 to 6 items");
  std::vector<InteractionChoice> seven(7, InteractionChoice{"t", "l", 0});
  EXPECT_EQ(configure_error(engine, "Q", seven), "choices must contain 2 to 6 items");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "x", 0}, {"  ", "y", 0}}),
            "choice token and label are required");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "x", 0}, {"b", "\t", 0}}),
            "choice token and label are required");
  EXPECT_EQ(configure_error(engine, "Q", {{"x", "1", 0}, {"X", "2", 0}}),
            "choice tokens must be unique");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "1", 0}, {" A ", "2", 0}}),
            "choice tokens must be unique");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "1", 0}, {"b", "2", 0}, {"a", "3", 0}}),
            "choice tokens must be unique");
}

TEST(InteractionEngineConfigure, ReportsOnlyTheFirstProblemInCheckOrder) {
  InteractionEngine engine;
  // Empty title beats a bad choice count.
  EXPECT_EQ(configure_error(engine, "", {{"a", "x", 0}}), "title is required");
  // A bad count beats an empty first token.
  std::vector<InteractionChoice> seven(7, InteractionChoice{"t", "l", 0});
  seven[0].token = "";
  EXPECT_EQ(configure_error(engine, "Q", seven), "choices must contain 2 to 6 items");
  // Choices are checked one by one: a duplicate second choice is found
  // before an empty third one...
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "1", 0}, {"A", "2", 0}, {"", "3", 0}}),
            "choice tokens must be unique");
  // ...and an empty second choice before a duplicate third one.
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "1", 0}, {"b", "", 0}, {"a", "3", 0}}),
            "choice token and label are required");
}

TEST(InteractionEngineConfigure, DistinguishesTokensThatOnlyLookAlike) {
  InteractionEngine engine;
  // ASCII 1 and full-width 1; a and full-width a; "a b" and "ab".
  EXPECT_EQ(configure_error(engine, "Q", {{"1", "x", 0}, {"\xEF\xBC\x91", "y", 0}}), "");
  EXPECT_EQ(configure_error(engine, "Q", {{"a", "x", 0}, {"\xEF\xBD\x81", "y", 0}}), "");
  EXPECT_EQ(configure_error(engine, "Q", {{"a b", "x", 0}, {"ab", "y", 0}}), "");
}

TEST(InteractionEngineConfigure, FailedConfigureLeavesEverythingAsItWas) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("a"));
  engine.ingest(comment("chatter"));
  const std::vector<std::vector<InteractionChoice>> bad = {
      two_choices("x", "X"),            // duplicate found after the first choice
      {{"c", "ok", 0}, {"", "no", 0}},  // empty token in the second choice
      {{"c", "ok", 0}},                 // too few
  };
  for (const auto& choices : bad) {
    EXPECT_THROW(engine.configure("New title", choices), std::invalid_argument);
    EXPECT_EQ(engine.title, "Q");
    ASSERT_EQ(engine.choices.size(), 2u);
    EXPECT_EQ(engine.choices[0].token, "A");
    EXPECT_EQ(engine.choices[0].label, "first");
    EXPECT_EQ(engine.choices[0].votes, 1u);
    EXPECT_EQ(engine.total_votes, 1u);
    EXPECT_TRUE(engine.active);
    EXPECT_EQ(engine.candidates.size(), 1u);
  }
  EXPECT_THROW(engine.configure("", two_choices("c", "d")), std::invalid_argument);
  EXPECT_EQ(engine.choices[1].token, "B");
  EXPECT_EQ(engine.ingest(comment("b")), IngestResult::Vote);  // still voting on A/B
}

TEST(InteractionEngineConfigure, ConfigureWhileVotingEndsTheVoteAndKeepsCandidates) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("a"));
  engine.ingest(comment("hello", "c1"));
  engine.configure("Next", two_choices("y", "n"));
  EXPECT_FALSE(engine.active);
  EXPECT_EQ(engine.total_votes, 0u);
  EXPECT_EQ(engine.choices[0].votes, 0u);
  ASSERT_EQ(engine.candidates.size(), 1u);
  EXPECT_EQ(engine.candidates[0].msg_id, "c1");
}

// --- ingest: what counts as a vote ------------------------------------------

TEST(InteractionEngineIngest, VoteNeedsTheWholeTrimmedTextToEqualAToken) {
  struct Case {
    const char* content;
    IngestResult expected;
  };
  const Case cases[] = {
      {" yes ", IngestResult::Vote},
      {"\tNO WAY\r\n", IngestResult::Vote},
      {"YeS", IngestResult::Vote},
      {"yes!", IngestResult::Candidate},
      {"ye", IngestResult::Candidate},
      {"yess", IngestResult::Candidate},
      {"no", IngestResult::Candidate},
      {"no  way", IngestResult::Candidate},
      {"yesno way", IngestResult::Candidate},
      {"\xEF\xBD\x99\xEF\xBD\x85\xEF\xBD\x93", IngestResult::Candidate},  // full-width yes
      {"\xE3\x80\x80yes", IngestResult::Candidate},  // ideographic space is not trimmed
  };
  InteractionEngine engine;
  engine.configure("Q", two_choices("yes", "no way"));
  engine.start();
  for (const Case& c : cases) {
    EXPECT_EQ(engine.ingest(comment(c.content)), c.expected) << c.content;
  }
  EXPECT_EQ(engine.choices[0].votes, 2u);
  EXPECT_EQ(engine.choices[1].votes, 1u);
  EXPECT_EQ(engine.total_votes, 3u);
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
    EXPECT_EQ(engine.ingest(comment("")), IngestResult::Ignored);
    EXPECT_EQ(engine.ingest(comment("   ")), IngestResult::Ignored);
    EXPECT_EQ(engine.ingest(comment(" \t\n\v\f\r")), IngestResult::Ignored);
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
  EXPECT_EQ(engine.choices[0].votes, 3u);
  EXPECT_EQ(engine.choices[1].votes, 1u);
  EXPECT_EQ(engine.total_votes, 4u);
}

// --- Candidates: contents, order, cap of 200 -------------------------------

TEST(InteractionEngineCandidates, WhileIdleATokenIsJustACandidate) {
  InteractionEngine engine;
  engine.configure("Q", two_choices("A", "B"));
  EXPECT_EQ(engine.ingest(comment("a")), IngestResult::Candidate);
  EXPECT_EQ(engine.choices[0].votes, 0u);
  EXPECT_EQ(engine.total_votes, 0u);
  ASSERT_EQ(engine.candidates.size(), 1u);
  EXPECT_EQ(engine.candidates[0].content, "a");
}

TEST(InteractionEngineCandidates, KeepsIdNicknameAndTrimmedContentWithCase) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("  Hello World!\r\n", "id-7", "\xE5\xB0\x8F\xE6\x98\x8E"));
  ASSERT_EQ(engine.candidates.size(), 1u);
  EXPECT_EQ(engine.candidates[0].msg_id, "id-7");
  EXPECT_EQ(engine.candidates[0].nickname, "\xE5\xB0\x8F\xE6\x98\x8E");
  EXPECT_EQ(engine.candidates[0].content, "Hello World!");
}

TEST(InteractionEngineCandidates, NewestFirstAndOldestDroppedBeyond200) {
  InteractionEngine engine;
  for (int i = 0; i < 201; ++i) {
    engine.ingest(comment("c" + std::to_string(i), std::to_string(i)));
  }
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
    const CommentCandidate& c = engine.candidates[static_cast<std::size_t>(k)];
    ASSERT_EQ(c.msg_id, "id" + std::to_string(i)) << k;
    ASSERT_EQ(c.nickname, nick(i)) << k;
    ASSERT_EQ(c.content, text(i)) << k;
  }
}

TEST(InteractionEngineCandidates, IdenticalCommentsAreNotMerged) {
  InteractionEngine engine;
  engine.ingest(comment("same", "1"));
  engine.ingest(comment("same", "1"));
  EXPECT_EQ(engine.candidates.size(), 2u);
}

// --- State transitions: start, end, restart ---------------------------------

TEST(InteractionEngineLifecycle, EndKeepsCountsAndStopsCounting) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("a"));
  engine.ingest(comment("b"));
  engine.end();
  EXPECT_FALSE(engine.active);
  EXPECT_EQ(engine.choices[0].votes, 1u);
  EXPECT_EQ(engine.total_votes, 2u);
  EXPECT_EQ(engine.ingest(comment("a")), IngestResult::Candidate);
  EXPECT_EQ(engine.total_votes, 2u);
  engine.end();  // ending while idle changes nothing
  EXPECT_EQ(engine.total_votes, 2u);
  EXPECT_EQ(engine.title, "Q");
}

TEST(InteractionEngineLifecycle, StartZeroesEveryCountEvenWhileVoting) {
  InteractionEngine engine = voting_engine();
  engine.ingest(comment("a"));
  engine.ingest(comment("b"));
  engine.start();  // restart while voting
  EXPECT_TRUE(engine.active);
  EXPECT_EQ(engine.choices[0].votes, 0u);
  EXPECT_EQ(engine.choices[1].votes, 0u);
  EXPECT_EQ(engine.total_votes, 0u);
  engine.ingest(comment("b"));
  engine.end();
  engine.start();  // end followed by start
  EXPECT_EQ(engine.choices[1].votes, 0u);
  EXPECT_EQ(engine.total_votes, 0u);
  EXPECT_EQ(engine.candidates.size(), 0u);
}

TEST(InteractionEngineLifecycle, CandidatesSurviveEveryTransition) {
  InteractionEngine engine;
  engine.ingest(comment("one", "1"));
  engine.start();
  engine.ingest(comment("two", "2"));
  engine.end();
  engine.configure("Q", two_choices("y", "n"));
  engine.start();
  ASSERT_EQ(engine.candidates.size(), 2u);
  EXPECT_EQ(engine.candidates[0].msg_id, "2");
  EXPECT_EQ(engine.candidates[1].msg_id, "1");
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
