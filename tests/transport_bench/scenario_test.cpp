#include "scenario.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
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
    const ClientRequest sent{scenario, L"tb-12-3", 65536, 4000000000u, 7, 60};
    ClientRequest got;
    ASSERT_TRUE(
        Parse(FormatClientArguments(sent) + L" --result x.txt --library q.dll --print-log", &got));
    const auto fields = [](const ClientRequest& r) {
      return std::tie(r.scenario, r.name, r.payload, r.count, r.warmup, r.fps);
    };
    EXPECT_EQ(fields(got), fields(sent));
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
