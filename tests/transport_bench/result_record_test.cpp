#include "result_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace transport_bench {
namespace {

TEST(ResultRecordTest, FiguresSurviveTheRoundTrip) {
  const ResultRecord record = {{"start_ns", 1234567890123456789LL},
                               {"rtt_p99_ns", 0},
                               {"low", std::numeric_limits<int64_t>::min()},
                               {"high", std::numeric_limits<int64_t>::max()}};
  ResultRecord read;
  ASSERT_TRUE(ParseRecord(FormatRecord(record), &read));
  EXPECT_EQ(read, record);
  ResultRecord crlf;
  ASSERT_TRUE(ParseRecord("a=1\r\nb=-2\r\n", &crlf));
  EXPECT_EQ(crlf, (ResultRecord{{"a", 1}, {"b", -2}}));
}

// A half-written or foreign file must not turn into figures.
TEST(ResultRecordTest, MalformedLinesAreRefused) {
  for (const char* text :
       {"a", "=1\n", "a=\n", "a=1x\n", "a=x\n", "a=99999999999999999999\n", "a=1\nerror: lost\n"}) {
    ResultRecord read;
    EXPECT_FALSE(ParseRecord(text, &read)) << text;
  }
}

}  // namespace
}  // namespace transport_bench
