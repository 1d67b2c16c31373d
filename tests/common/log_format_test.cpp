#include "BrisqFramework/Common/LogFormat.h"

#include <gtest/gtest.h>

namespace BrisqFramework {
namespace {

LogTime Time(int year, int month, int day, int hour, int minute, int second, int ms) {
  LogTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = ms;
  return t;
}

std::string Header(uint32_t pid, uint32_t tid, const LogTime& t, int32_t severity,
                   const char* file = nullptr, int32_t line = 0) {
  std::string out;
  AppendLogHeader(out, pid, tid, t, severity, file, line);
  return out;
}

// Padding: month, day and clock fields 2 digits, milliseconds 3, year as is.
TEST(LogHeaderPadding, SmallFieldsAreZeroPadded) {
  EXPECT_EQ("[1:2:2024-01-02/03:04:05.006:INFO] ", Header(1, 2, Time(2024, 1, 2, 3, 4, 5, 6), 0));
  EXPECT_EQ("[1:2:2024-12-31/23:59:59.999:INFO] ",
            Header(1, 2, Time(2024, 12, 31, 23, 59, 59, 999), 0));
  EXPECT_EQ("[1:2:2024-10-10/10:10:10.010:INFO] ",
            Header(1, 2, Time(2024, 10, 10, 10, 10, 10, 10), 0));
}

TEST(LogHeaderPadding, YearIsNotPadded) {
  EXPECT_EQ("[1:2:987-01-01/00:00:00.000:INFO] ", Header(1, 2, Time(987, 1, 1, 0, 0, 0, 0), 0));
}

// Ids are unsigned decimal: a thread id above 2^31 must not turn negative.
TEST(LogHeaderIds, FullUnsignedRange) {
  EXPECT_EQ("[4294967295:2147483648:2024-01-02/03:04:05.006:INFO] ",
            Header(4294967295u, 2147483648u, Time(2024, 1, 2, 3, 4, 5, 6), 0));
  EXPECT_EQ("[0:0:2024-01-02/03:04:05.006:INFO] ", Header(0, 0, Time(2024, 1, 2, 3, 4, 5, 6), 0));
}

TEST(LogSeverityNames, KnownAndUnknown) {
  EXPECT_STREQ("INFO", LogSeverityName(0));
  EXPECT_STREQ("WARNING", LogSeverityName(1));
  EXPECT_STREQ("ERROR", LogSeverityName(2));
  EXPECT_STREQ("FATAL", LogSeverityName(3));
  EXPECT_STREQ("UNKNOWN", LogSeverityName(4));
  EXPECT_STREQ("UNKNOWN", LogSeverityName(7));
  EXPECT_STREQ("UNKNOWN", LogSeverityName(2147483647));
  EXPECT_STREQ("UNKNOWN", LogSeverityName(-1));
  EXPECT_EQ("[1:2:2024-01-02/03:04:05.006:UNKNOWN] ",
            Header(1, 2, Time(2024, 1, 2, 3, 4, 5, 6), 7));
}

// The source position follows the severity's "] " as "file(line)] ".
TEST(LogHeaderSourcePosition, FileAndLineAfterSeverity) {
  EXPECT_EQ("[7:8:2024-01-02/03:04:05.006:ERROR] PipeClient.cpp(123)] ",
            Header(7, 8, Time(2024, 1, 2, 3, 4, 5, 6), 2, "PipeClient.cpp", 123));
  EXPECT_EQ("[7:8:2024-01-02/03:04:05.006:WARNING] x/y.cpp(0)] ",
            Header(7, 8, Time(2024, 1, 2, 3, 4, 5, 6), 1, "x/y.cpp", 0));
}

}  // namespace
}  // namespace BrisqFramework
