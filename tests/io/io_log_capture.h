// Test helper: keeps every log line the framework writes, as (severity,
// message text) with the header and the final line feed cut off. Its clock
// jumps 2 s per record, so the flood filter never drops a repeated line and
// tests can count lines exactly. One capture at a time per process.
#ifndef TESTS_IO_IO_LOG_CAPTURE_H
#define TESTS_IO_IO_LOG_CAPTURE_H

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "BrisqFramework/Common/LogEnvironment.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace brisq_io_test {

struct LogLine {
  int32_t severity;
  std::string text;
  bool operator==(const LogLine& o) const { return severity == o.severity && text == o.text; }
};

class IoLogCapture {
 public:
  IoLogCapture() {
    Clear();
    environment_ = BrisqFramework::PlatformLogEnvironment();
    environment_.now_ns = &Now;
    BrisqFramework::SetLogEnvironment(&environment_);
    BrisqFramework::SetLogOutputHook(&Sink);
  }
  ~IoLogCapture() {
    BrisqFramework::SetLogOutputHook(nullptr);
    BrisqFramework::SetLogEnvironment(nullptr);
  }
  IoLogCapture(const IoLogCapture&) = delete;
  IoLogCapture& operator=(const IoLogCapture&) = delete;

  std::vector<LogLine> Lines() const {
    std::lock_guard<std::mutex> guard(Mutex());
    return Store();
  }
  // How often exactly this line was written.
  int Count(int32_t severity, const std::string& text) const {
    const std::vector<LogLine> lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), LogLine{severity, text}));
  }
  // Position of the first such line, or -1.
  int IndexOf(int32_t severity, const std::string& text) const {
    const std::vector<LogLine> lines = Lines();
    auto it = std::find(lines.begin(), lines.end(), LogLine{severity, text});
    return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
  }
  static void Clear() {
    std::lock_guard<std::mutex> guard(Mutex());
    Store().clear();
  }

 private:
  static int64_t Now() { return clock_ns_.fetch_add(2000000000) + 2000000000; }
  static int32_t Sink(int32_t severity, const char* /*file*/, int32_t /*line*/, const char* text) {
    std::string message(text);
    // The header ends in "] " and is followed by ": "; the message ends in "\n".
    const std::size_t cut = message.find("] : ");
    message = cut == std::string::npos ? message : message.substr(cut + 4);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    std::lock_guard<std::mutex> guard(Mutex());
    Store().push_back({severity, message});
    return 1;
  }
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<LogLine>& Store() {
    static std::vector<LogLine> v;
    return v;
  }

  static inline std::atomic<int64_t> clock_ns_{1000000000};
  BrisqFramework::LogEnvironment environment_;
};

}  // namespace brisq_io_test

#endif  // TESTS_IO_IO_LOG_CAPTURE_H
