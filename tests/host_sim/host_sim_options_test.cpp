#include "tools/host-sim/core/host_sim_options.h"

#include <gtest/gtest.h>

namespace host_sim {
namespace {

TEST(HostSimOptions, NoArgumentsRunTheBuiltInAudience) {
  HostSimOptions o;
  std::string error;
  ASSERT_TRUE(parse_options({}, o, error)) << error;
  EXPECT_TRUE(o.scenario_path.empty());
  EXPECT_FALSE(o.demo);
  EXPECT_EQ(check_audience_options(o.audience), "");
}

TEST(HostSimOptions, ValuesAreReadStrictly) {
  HostSimOptions o;
  std::string error;
  ASSERT_TRUE(
      parse_options({"--rate", "12.5", "--keywords", "A,b", "--vote-share", "0.5,0.25",
                     "--layout-mode", "-2147483648", "--seed", "18446744073709551615", "--demo",
                     "out dir", "--labels", "火锅,烧烤", "--print-log", "--sample-every", "10"},
                    o, error))
      << error;
  EXPECT_EQ(o.audience.comments_per_second, 12.5);
  EXPECT_EQ(o.audience.keywords, (std::vector<std::string>{"A", "b"}));
  EXPECT_EQ(o.audience.vote_shares, (std::vector<double>{0.5, 0.25}));
  EXPECT_EQ(o.layout_mode, INT32_MIN);
  EXPECT_EQ(o.audience.seed, UINT64_MAX);
  EXPECT_TRUE(o.demo);
  EXPECT_EQ(o.out_dir, "out dir");
  EXPECT_TRUE(o.print_log);
  EXPECT_EQ(o.sample_every_s, 10u);
}

TEST(HostSimOptions, MistakesAreNamed) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--frobnicate"}, "unknown option --frobnicate (see --help)"},
      {{"--rate"}, "--rate needs a value"},
      {{"--title"}, "--title needs a value"},
      {{"--channels", "0"}, "bad value for --channels: 0"},
      {{"--sample-every", "0"}, "bad value for --sample-every: 0"},
      {{"--channels", "4294967296"}, "bad value for --channels: 4294967296"},
      {{"--viewers", "+3"}, "bad value for --viewers: +3"},
      {{"--rate", "5x"}, "bad value for --rate: 5x"},
      {{"--layout-mode", "2147483648"}, "bad value for --layout-mode: 2147483648"},
      {{"--vote-share", "0.5,,0.1"}, "bad value for --vote-share: 0.5,,0.1"},
      {{"--vote-share", "0.9,0.2"}, "audience: vote shares add up to more than 1"},
      {{"--demo", "d", "--keywords", "1,2,3", "--vote-share", "0,0,0"},
       "--demo drives a window with two options: give two --keywords and two --labels"},
      {{"--demo", "d", "--out", "e"}, "--demo names the output folder; leave out --out"},
  };
  for (const Case& c : cases) {
    HostSimOptions o;
    std::string error;
    EXPECT_FALSE(parse_options(c.args, o, error)) << c.args[0];
    EXPECT_EQ(error, c.error);
  }
}

TEST(HostSimOptions, ScenarioFileDoesNotNeedAudienceShares) {
  HostSimOptions o;
  std::string error;
  EXPECT_TRUE(parse_options({"--scenario", "s.jsonl", "--keywords", "1,2,3"}, o, error)) << error;
}

}  // namespace
}  // namespace host_sim
