#include "BrisqFramework/Common/LogFormat.h"

#include <gtest/gtest.h>

namespace BrisqFramework {
namespace {

constexpr LogTime kTime{2024, 1, 2, 3, 4, 5, 6};

std::string Header(uint32_t pid, uint32_t tid, const LogTime& t, int32_t severity,
                   const char* file = nullptr, int32_t line = 0) {
  std::string out;
  AppendLogHeader(out, pid, tid, t, severity, file, line);
  return out;
}

// Padding: month, day and clock fields 2 digits, milliseconds 3, year as is.
TEST(LogHeaderPadding, SmallFieldsAreZeroPadded) {
  EXPECT_EQ("[1:2:2024-01-02/03:04:05.006:INFO] ", Header(1, 2, kTime, 0));
  EXPECT_EQ("[1:2:2024-12-31/23:59:59.999:INFO] ",
            Header(1, 2, {2024, 12, 31, 23, 59, 59, 999}, 0));
  EXPECT_EQ("[1:2:2024-10-10/10:10:10.010:INFO] ", Header(1, 2, {2024, 10, 10, 10, 10, 10, 10}, 0));
}

TEST(LogHeaderPadding, YearIsNotPadded) {
  EXPECT_EQ("[1:2:987-01-01/00:00:00.000:INFO] ", Header(1, 2, {987, 1, 1, 0, 0, 0, 0}, 0));
}

// Ids are unsigned decimal: a thread id above 2^31 must not turn negative.
TEST(LogHeaderIds, FullUnsignedRange) {
  EXPECT_EQ("[4294967295:2147483648:2024-01-02/03:04:05.006:INFO] ",
            Header(4294967295u, 2147483648u, kTime, 0));
  EXPECT_EQ("[0:0:2024-01-02/03:04:05.006:INFO] ", Header(0, 0, kTime, 0));
}

TEST(LogSeverityNames, KnownAndUnknown) {
  const char* const names[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  for (int32_t severity = 0; severity < 4; ++severity) {
    EXPECT_STREQ(names[severity], LogSeverityName(severity));
  }
  for (int32_t severity : {4, 7, 2147483647, -1}) {
    EXPECT_STREQ("UNKNOWN", LogSeverityName(severity)) << severity;
  }
  EXPECT_EQ("[1:2:2024-01-02/03:04:05.006:UNKNOWN] ", Header(1, 2, kTime, 7));
}

// The source position follows the severity's "] " as "file(line)] ".
TEST(LogHeaderSourcePosition, FileAndLineAfterSeverity) {
  EXPECT_EQ("[7:8:2024-01-02/03:04:05.006:ERROR] PipeClient.cpp(123)] ",
            Header(7, 8, kTime, 2, "PipeClient.cpp", 123));
  EXPECT_EQ("[7:8:2024-01-02/03:04:05.006:WARNING] x/y.cpp(0)] ",
            Header(7, 8, kTime, 1, "x/y.cpp", 0));
}

}  // namespace
}  // namespace BrisqFramework
