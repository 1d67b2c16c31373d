#include "tests/support/log_capture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "BrisqFramework/Common/LogFloodFilter.h"
#include "BrisqFramework/Common/LogMessage.h"

namespace test_support {
namespace {

// The sink is a plain function, so the capture's state is process-wide; the
// mutex guards everything but the two atomics.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<LogLine> lines;
  std::string trigger_text;
  std::function<void()> trigger;
};

Shared& State() {
  static Shared shared;
  return shared;
}

std::atomic<int64_t> now_ns{1000};  // far from 0, which would look like "no record yet"
std::atomic<int32_t> sink_result{1};

uint32_t FixedPid() { return 11; }
uint32_t FixedTid() { return 22; }
BrisqFramework::LogTime FixedTime() {
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
int64_t DrivenNow() { return now_ns.load(); }
int64_t ApartNow() { return now_ns.fetch_add(2000000000) + 2000000000; }

int32_t Sink(int32_t severity, const char* file, int32_t line, const char* text) {
  LogLine l;
  l.severity = severity;
  l.file = file != nullptr ? file : "<null>";
  l.line = line;
  l.text = text;
  const size_t cut = l.text.find("] : ");
  l.message = cut == std::string::npos ? l.text : l.text.substr(cut + 4);
  if (!l.message.empty() && l.message.back() == '\n') l.message.pop_back();
  std::function<void()> action;
  Shared& s = State();
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.trigger && l.message == s.trigger_text) {
      action = std::move(s.trigger);
      s.trigger = nullptr;
    }
    s.lines.push_back(std::move(l));
    s.changed.notify_all();
  }
  if (action) action();
  return sink_result.load();
}

}  // namespace

LogCapture::LogCapture(LogClock clock, int32_t result) {
  sink_result = result;
  now_ns = clock == LogClock::kDriven ? 1000 : 1000000000;
  Clear();
  if (clock == LogClock::kDriven) {
    environment_ = {&FixedPid, &FixedTid, &FixedTime, &DrivenNow};
  } else {
    environment_ = BrisqFramework::PlatformLogEnvironment();
    environment_.now_ns = &ApartNow;
  }
  BrisqFramework::SetLogEnvironment(&environment_);
  BrisqFramework::ProcessLogFloodFilter().Clear();
  BrisqFramework::SetLogOutputHook(&Sink);
}

LogCapture::~LogCapture() {
  OnceAfter(std::string(), nullptr);
  BrisqFramework::SetLogOutputHook(nullptr);
  BrisqFramework::SetLogEnvironment(nullptr);
  BrisqFramework::ProcessLogFloodFilter().Clear();
}

void LogCapture::SetSinkResult(int32_t result) { sink_result = result; }
void LogCapture::Advance(int64_t ns) { now_ns += ns; }

std::vector<LogLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(State().mutex);
  return State().lines;
}

std::vector<std::string> LogCapture::Texts() const {
  std::vector<std::string> texts;
  for (const LogLine& l : Lines()) texts.push_back(l.text);
  return texts;
}

std::vector<LogMessage> LogCapture::Messages() const {
  std::vector<LogMessage> messages;
  for (const LogLine& l : Lines()) messages.emplace_back(l.severity, l.message);
  return messages;
}

std::vector<std::string> LogCapture::MessageTexts() const {
  std::vector<std::string> texts;
  for (const LogLine& l : Lines()) texts.push_back(l.message);
  return texts;
}

size_t LogCapture::Size() const { return Lines().size(); }

int LogCapture::Count(int32_t severity, const std::string& message) const {
  int n = 0;
  for (const LogLine& l : Lines()) n += (l.severity == severity && l.message == message) ? 1 : 0;
  return n;
}

int LogCapture::IndexOf(int32_t severity, const std::string& message, size_t from) const {
  const std::vector<LogLine> lines = Lines();
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].severity == severity && lines[i].message == message) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> LogCapture::Since(size_t from, int32_t severity) const {
  std::vector<std::string> out;
  const std::vector<LogLine> lines = Lines();
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].severity == severity) out.push_back(lines[i].message);
  }
  return out;
}

bool LogCapture::WaitFor(int32_t severity, const std::string& message, int count,
                         int timeout_ms) const {
  Shared& s = State();
  std::unique_lock<std::mutex> hold(s.mutex);
  return s.changed.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
    int n = 0;
    for (const LogLine& l : s.lines) n += (l.severity == severity && l.message == message) ? 1 : 0;
    return n >= count;
  });
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> guard(State().mutex);
  State().lines.clear();
}

void LogCapture::OnceAfter(const std::string& message, std::function<void()> action) {
  std::lock_guard<std::mutex> guard(State().mutex);
  State().trigger_text = message;
  State().trigger = std::move(action);
}

}  // namespace test_support
