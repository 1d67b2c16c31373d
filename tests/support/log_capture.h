// Keeps every log line the process writes, through the framework's output
// hook, for tests that check what was logged.
//
// Two clocks for the flood filter:
//   kRecordsApart  the platform's header; every record is 2 s after the one
//                  before, so no repeated line is dropped and lines can be
//                  counted exactly (tests of the code that logs);
//   kDriven        a fixed header (kInfoPrefix) and a clock that only Advance
//                  and Silence move (tests of the logging core itself).
// One capture at a time per process: the logging slots are process-wide. The
// capture clears the flood filter and restores the platform's environment
// when it ends.
#ifndef TESTS_SUPPORT_LOG_CAPTURE_H
#define TESTS_SUPPORT_LOG_CAPTURE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BrisqFramework/Common/LogEnvironment.h"

namespace test_support {

enum class LogClock { kRecordsApart, kDriven };

struct LogLine {
  int32_t severity = 0;
  std::string file;  // "<null>" when the record had no source position
  int32_t line = 0;
  std::string text;     // the whole line as the sink got it
  std::string message;  // what follows the header's "] : ", without the final line feed
};

// (severity, message): what most tests compare.
using LogMessage = std::pair<int32_t, std::string>;

class LogCapture {
 public:
  // The header of an INFO line under kDriven.
  static constexpr const char* kInfoPrefix = "[11:22:2024-01-02/03:04:05.006:INFO] ";

  // `sink_result`: what the sink answers, non-zero = handled (the line then
  // goes nowhere else).
  explicit LogCapture(LogClock clock = LogClock::kRecordsApart, int32_t sink_result = 1);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void SetSinkResult(int32_t result);
  // Moves the driven clock.
  void Advance(int64_t ns);
  // Lets the next burst start: more than a second of silence.
  void Silence() { Advance(1100000000); }

  std::vector<LogLine> Lines() const;
  std::vector<std::string> Texts() const;
  std::vector<LogMessage> Messages() const;
  // The messages alone, without severities.
  std::vector<std::string> MessageTexts() const;
  size_t Size() const;
  // How often exactly this message was written.
  int Count(int32_t severity, const std::string& message) const;
  // Position of the first such line at or after `from`, or -1.
  int IndexOf(int32_t severity, const std::string& message, size_t from = 0) const;
  // Messages of `severity` from position `from` on.
  std::vector<std::string> Since(size_t from, int32_t severity) const;
  // Waits until the message has been written `count` times.
  bool WaitFor(int32_t severity, const std::string& message, int count, int timeout_ms) const;
  void Clear();
  // Runs `action` once, on the logging thread, right after the message was
  // written: a way to act at an exact step of a library thread.
  void OnceAfter(const std::string& message, std::function<void()> action);

 private:
  BrisqFramework::LogEnvironment environment_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_LOG_CAPTURE_H
