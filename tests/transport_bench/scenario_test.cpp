#include "scenario.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace transport_bench {
namespace {

// Splits a command line made by FormatClientArguments (no quoted parts).
bool Parse(const std::wstring& line, ClientRequest* request) {
  std::wistringstream in(L"transport-bench " + line);
  std::vector<std::wstring> words;
  for (std::wstring word; in >> word;) words.push_back(word);
  std::vector<wchar_t*> argv;
  for (std::wstring& word : words) argv.push_back(&word[0]);
  return ParseClientArguments(static_cast<int>(argv.size()), argv.data(), 1, request);
}

// The child must run exactly the measurement the parent asked for.
TEST(ScenarioTest, ClientArgumentsRoundTrip) {
  for (Scenario scenario : {Scenario::kRawStream, Scenario::kQuenloEcho, Scenario::kQuenloFrames,
                            Scenario::kPortStream}) {
    ClientRequest sent;
    sent.scenario = scenario;
    sent.name = L"tb-12-3";
    sent.payload = 65536;
    sent.count = 4000000000u;
    sent.warmup = 7;
    sent.fps = 60;
    ClientRequest got;
    ASSERT_TRUE(
        Parse(FormatClientArguments(sent) + L" --result x.txt --library q.dll --print-log", &got));
    EXPECT_EQ(got.scenario, scenario);
    EXPECT_EQ(got.name, sent.name);
    EXPECT_EQ(got.payload, sent.payload);
    EXPECT_EQ(got.count, sent.count);
    EXPECT_EQ(got.warmup, sent.warmup);
    EXPECT_EQ(got.fps, sent.fps);
  }
}

TEST(ScenarioTest, MalformedArgumentsAreRefused) {
  ClientRequest request;
  EXPECT_FALSE(Parse(L"--client warp --name n", &request));
  EXPECT_FALSE(Parse(L"--client raw-echo", &request));  // no name
  EXPECT_FALSE(Parse(L"--client raw-echo --name n --count 12x", &request));
  EXPECT_FALSE(Parse(L"--client raw-echo --name n --count 4294967296", &request));
  EXPECT_FALSE(Parse(L"--client raw-echo --name n --bogus 1", &request));
  EXPECT_FALSE(Parse(L"--client raw-echo --name", &request));
}

}  // namespace
}  // namespace transport_bench
