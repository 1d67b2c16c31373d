#include "BrisqFramework/Common/LogMessage.h"

#include <atomic>

#include "BrisqFramework/Common/LogEnvironment.h"
#include "BrisqFramework/Common/LogFloodFilter.h"

namespace BrisqFramework {
namespace {

// Process-wide slots, set by any thread and read by every record. Atomic so
// that a replacement never tears; no ordering with the records is promised.
std::atomic<LogOutputHook> g_output_hook{nullptr};
std::atomic<LogFileWriter> g_file_writer{nullptr};

// The file's name without its folders: __FILE__ holds the path the build
// machine compiled it from, which a log line has no business showing.
const char* SourceBaseName(const char* file) {
  if (file == nullptr) return nullptr;
  const char* name = file;
  for (const char* p = file; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

}  // namespace

void SetLogOutputHook(LogOutputHook hook) { g_output_hook.store(hook); }
LogOutputHook GetLogOutputHook() { return g_output_hook.load(); }
void SetLogFileWriter(LogFileWriter writer) { g_file_writer.store(writer); }
LogFileWriter GetLogFileWriter() { return g_file_writer.load(); }

LogFloodFilter& ProcessLogFloodFilter() {
  // Never destroyed: records may still be finished while statics of other
  // units are torn down at process exit.
  static LogFloodFilter* const filter = new LogFloodFilter;
  return *filter;
}

LogMessage::LogMessage(const char* file, int32_t line, int32_t severity)
    : severity_(severity),
      file_(SourceBaseName(file)),
      line_(file != nullptr ? line : 0),
      disabled_(!LogIsOn(severity)) {
  if (disabled_) return;
  // Records are made in destructors and catch blocks too: a record whose
  // stream cannot be allocated is disabled instead of throwing.
  try {
    message_.emplace();
  } catch (...) {
    disabled_ = true;
    return;
  }
  const LogEnvironment& env = CurrentLogEnvironment();
  process_id_ = env.process_id();
  thread_id_ = env.thread_id();
  time_ = env.local_time();
}

LogMessage::LogMessage(int32_t severity) : LogMessage(nullptr, 0, severity) {}

std::ostream& LogMessage::stream() {
  if (!disabled_) return *message_;
  // A stream without a buffer is failed from the start and ignores every
  // write. One per thread: a failed write sets its state flags again.
  thread_local std::ostream null_stream(nullptr);
  null_stream.setstate(std::ios_base::failbit);
  return null_stream;
}

LogMessage::~LogMessage() {
  if (disabled_) return;
  // A destructor must not throw: an allocation failure or a throwing sink
  // loses this one line and nothing else.
  try {
    std::ostringstream& message = *message_;
    message.clear();  // a stream the site put into a failed state still ends the line
    message << '\n';
    message.flush();
    const std::string text = message.str();
    if (!ProcessLogFloodFilter().Admit(text, CurrentLogEnvironment().now_ns())) return;

    std::string line;
    line.reserve(96 + text.size());
    AppendLogHeader(line, process_id_, thread_id_, time_, severity_, file_, line_);
    line.append(": ").append(text);

    LogOutputHook hook = GetLogOutputHook();
    if (hook != nullptr && hook(severity_, file_, line_, line.c_str()) != 0) return;
    LogFileWriter writer = GetLogFileWriter();
    if (writer != nullptr) writer(line.data(), line.size());
  } catch (...) {
  }
}

}  // namespace BrisqFramework
