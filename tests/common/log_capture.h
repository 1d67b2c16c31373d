// Test helper: fixed log headers, a driven flood-filter clock and a sink that
// keeps every line. One LogCapture at a time per process (the logging slots
// are process-wide); it restores the platform environment when it ends.
#ifndef TESTS_COMMON_LOG_CAPTURE_H
#define TESTS_COMMON_LOG_CAPTURE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "BrisqFramework/Common/LogEnvironment.h"
#include "BrisqFramework/Common/LogFloodFilter.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace brisq_test {

struct CapturedLine {
  int32_t severity;
  std::string file;  // "<null>" when the record had no source position
  int32_t line;
  std::string text;
};

class LogCapture {
 public:
  // The header every line gets: "[11:22:2024-01-02/03:04:05.006:<SEV>] ".
  static constexpr const char* kInfoPrefix = "[11:22:2024-01-02/03:04:05.006:INFO] ";

  explicit LogCapture(int32_t sink_result = 1) {
    sink_result_ = sink_result;
    now_ns_ = 1000;  // far from 0, which would look like "no record yet"
    Clear();
    BrisqFramework::SetLogEnvironment(&kEnvironment);
    BrisqFramework::ProcessLogFloodFilter().Clear();
    BrisqFramework::SetLogOutputHook(&Sink);
  }
  ~LogCapture() {
    BrisqFramework::SetLogOutputHook(nullptr);
    BrisqFramework::SetLogEnvironment(nullptr);
    BrisqFramework::ProcessLogFloodFilter().Clear();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // What the sink answers from now on: non-zero = handled.
  void SetSinkResult(int32_t result) { sink_result_ = result; }

  // Moves the flood filter's clock.
  void Advance(int64_t ns) { now_ns_ += ns; }
  // Lets the next burst start: more than a second of silence.
  void Silence() { Advance(1100000000); }

  std::vector<CapturedLine> Lines() const {
    std::lock_guard<std::mutex> guard(Mutex());
    return Store();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const CapturedLine& l : Lines()) texts.push_back(l.text);
    return texts;
  }
  static void Clear() {
    std::lock_guard<std::mutex> guard(Mutex());
    Store().clear();
  }

 private:
  static uint32_t Pid() { return 11; }
  static uint32_t Tid() { return 22; }
  static BrisqFramework::LogTime Time() {
    BrisqFramework::LogTime t;
    t.year = 2024;
    t.month = 1;
    t.day = 2;
    t.hour = 3;
    t.minute = 4;
    t.second = 5;
    t.millisecond = 6;
    return t;
  }
  static int64_t Now() { return now_ns_.load(); }
  static int32_t Sink(int32_t severity, const char* file, int32_t line, const char* text) {
    std::lock_guard<std::mutex> guard(Mutex());
    Store().push_back({severity, file != nullptr ? file : "<null>", line, text});
    return sink_result_.load();
  }
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<CapturedLine>& Store() {
    static std::vector<CapturedLine> v;
    return v;
  }

  static inline std::atomic<int64_t> now_ns_{1000};
  static inline std::atomic<int32_t> sink_result_{1};
  static constexpr BrisqFramework::LogEnvironment kEnvironment = {&Pid, &Tid, &Time, &Now};
};

}  // namespace brisq_test

#endif  // TESTS_COMMON_LOG_CAPTURE_H
