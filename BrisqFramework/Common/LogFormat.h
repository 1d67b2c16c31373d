// LogFormat.h - severities and the header of a log line.
//
// Portable and pure: everything the header needs is passed in, so the layout
// can be checked byte for byte without a clock or a process.
#ifndef BRISQFRAMEWORK_COMMON_LOGFORMAT_H
#define BRISQFRAMEWORK_COMMON_LOGFORMAT_H

#include <cstdint>
#include <string>

namespace BrisqFramework {

// Severities. Failures are logged as kLogError with their source position,
// progress notes as kLogInfo without one.
constexpr int32_t kLogInfo = 0;
constexpr int32_t kLogWarning = 1;
constexpr int32_t kLogError = 2;
constexpr int32_t kLogFatal = 3;

// Local wall-clock time of a record, to the millisecond.
struct LogTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// "INFO", "WARNING", "ERROR", "FATAL" for 0-3; "UNKNOWN" for greater values.
// Negative severities never reach a line (they are below the minimum); they
// also read "UNKNOWN".
const char* LogSeverityName(int32_t severity);

// Appends the header of a line to `out`:
//   "[pid:tid:YYYY-MM-DD/hh:mm:ss.mmm:SEVERITY] "
// and, when `file` is non-null, "file(line)] ". The year is not padded;
// month, day and time fields are zero-padded to 2 digits, milliseconds to 3.
void AppendLogHeader(std::string& out, uint32_t process_id, uint32_t thread_id, const LogTime& time,
                     int32_t severity, const char* file, int32_t line);

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_LOGFORMAT_H
