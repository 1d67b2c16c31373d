// Test helper: keeps every log line of the process as (severity, message)
// with the header and the final line feed cut off. The flood filter's clock
// jumps 2 s per record, so repeated lines are never dropped and can be
// counted. One capture at a time per process (the logging slots are
// process-wide).
#ifndef TESTS_CLIENT_CLIENT_LOG_CAPTURE_H
#define TESTS_CLIENT_CLIENT_LOG_CAPTURE_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "BrisqFramework/Common/LogEnvironment.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace client_test {

struct LogLine {
  int32_t severity;
  std::string text;
};

constexpr int32_t kInfo = 0;
constexpr int32_t kError = 2;

class ClientLogCapture {
 public:
  ClientLogCapture() {
    Clear();
    environment_ = BrisqFramework::PlatformLogEnvironment();
    environment_.now_ns = &Now;
    BrisqFramework::SetLogEnvironment(&environment_);
    BrisqFramework::SetLogOutputHook(&Sink);
  }
  ~ClientLogCapture() {
    OnceAfter(std::string(), nullptr);
    BrisqFramework::SetLogOutputHook(nullptr);
    BrisqFramework::SetLogEnvironment(nullptr);
  }
  ClientLogCapture(const ClientLogCapture&) = delete;
  ClientLogCapture& operator=(const ClientLogCapture&) = delete;

  std::vector<LogLine> Lines() const {
    std::lock_guard<std::mutex> guard(Mutex());
    return Store();
  }
  // How often exactly this line was written.
  int Count(int32_t severity, const std::string& text) const {
    int n = 0;
    for (const LogLine& l : Lines()) n += (l.severity == severity && l.text == text) ? 1 : 0;
    return n;
  }
  // Position of the first such line at or after `from`, or -1.
  int IndexOf(int32_t severity, const std::string& text, size_t from = 0) const {
    const std::vector<LogLine> lines = Lines();
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].severity == severity && lines[i].text == text) return static_cast<int>(i);
    }
    return -1;
  }
  // Lines of `severity` from position `from` on.
  std::vector<std::string> Since(size_t from, int32_t severity) const {
    std::vector<std::string> out;
    const std::vector<LogLine> lines = Lines();
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].severity == severity) out.push_back(lines[i].text);
    }
    return out;
  }
  size_t Size() const { return Lines().size(); }
  // Waits until the line has been written `count` times.
  bool WaitFor(int32_t severity, const std::string& text, int count, int timeout_ms) const {
    std::unique_lock<std::mutex> hold(Mutex());
    return Changed().wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
      int n = 0;
      for (const LogLine& l : Store()) n += (l.severity == severity && l.text == text) ? 1 : 0;
      return n >= count;
    });
  }
  static void Clear() {
    std::lock_guard<std::mutex> guard(Mutex());
    Store().clear();
  }
  // Runs `action` once, on the logging thread, right after the line `text`
  // was written: a way to act at an exact step of a library thread.
  static void OnceAfter(const std::string& text, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(Mutex());
    TriggerText() = text;
    Trigger() = std::move(action);
  }

 private:
  static int64_t Now() { return clock_ns_.fetch_add(2000000000) + 2000000000; }
  static int32_t Sink(int32_t severity, const char* /*file*/, int32_t /*line*/, const char* text) {
    std::string message(text);
    // The header ends in "] " and is followed by ": "; the message ends in "\n".
    const size_t cut = message.find("] : ");
    if (cut != std::string::npos) message = message.substr(cut + 4);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> guard(Mutex());
      Store().push_back({severity, message});
      Changed().notify_all();
      if (Trigger() && message == TriggerText()) action = std::move(Trigger());
      if (action) Trigger() = nullptr;
    }
    if (action) action();
    return 1;
  }
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::condition_variable& Changed() {
    static std::condition_variable c;
    return c;
  }
  static std::vector<LogLine>& Store() {
    static std::vector<LogLine> v;
    return v;
  }
  static std::string& TriggerText() {
    static std::string t;
    return t;
  }
  static std::function<void()>& Trigger() {
    static std::function<void()> f;
    return f;
  }

  static inline std::atomic<int64_t> clock_ns_{1000000000};
  BrisqFramework::LogEnvironment environment_;
};

}  // namespace client_test

#endif  // TESTS_CLIENT_CLIENT_LOG_CAPTURE_H
