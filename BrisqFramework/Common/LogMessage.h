// LogMessage.h - the library's stream-style log record and logging macros.
//
// Usage (the macros are the intended way to log):
//
//   BRISQ_LOG(INFO) << "[PipeServer] SetCallback";          // progress note
//   BRISQ_LOG_AT(ERROR) << "Failed to Open(" << name << ")"; // failure, with
//                                                            // __FILE__/__LINE__
//
// BRISQ_LOG(severity) starts a record without source position (the sink gets
// file null and line 0); BRISQ_LOG_AT(severity) names the logging site. The
// severity is one of INFO, WARNING, ERROR, FATAL (written bare, as above; the
// words are not expanded as macros, so ERROR from <windows.h> does no harm).
// The whole statement is one record: the line is finished and delivered at
// the end of the full expression. Texts with printf-style fields can be built
// with StringPrintf (StringPrintf.h) and streamed in.
//
// What happens to a finished line:
//   header (see LogFormat.h) + ": " + message + "\n"
//   -> dropped if the flood filter refuses the message text (LogFloodFilter.h)
//   -> the output hook, if set; a non-zero result means handled, stop
//   -> the log-file writer, if a log file was chosen (LogFile.h on Windows)
//
// Records are made and finished on one thread's stack; any number of threads
// may log at once. The hook and the file writer are called outside every
// lock of this facility. FATAL does not end the process.
#ifndef BRISQFRAMEWORK_COMMON_LOGMESSAGE_H
#define BRISQFRAMEWORK_COMMON_LOGMESSAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "BrisqFramework/Common/LogFormat.h"

namespace BrisqFramework {

class LogFloodFilter;

// Severity below which records are disabled. 0 for the life of the process:
// every severity 0-3 is on, a negative one is off.
constexpr int32_t kMinLogSeverity = 0;

inline bool LogIsOn(int32_t severity) { return severity >= kMinLogSeverity; }

class LogMessage {
 public:
  // A record naming its source position. `file` must outlive the record
  // (a string literal such as __FILE__); the line names only its last part,
  // the file's name without folders. Never throws: a record whose stream
  // cannot be allocated is disabled and delivers nothing.
  LogMessage(const char* file, int32_t line, int32_t severity);
  // A record without source position (file null, line 0).
  explicit LogMessage(int32_t severity);
  // Finishes and delivers the line (see the file comment). Never throws.
  virtual ~LogMessage();

  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  // The message stream. For a disabled record it is in a failed state, so
  // everything written into it is ignored.
  std::ostream& stream();

 private:
  // The header's parts, taken at construction. The header itself is only
  // formatted for a line the flood filter lets through.
  int32_t severity_;
  uint32_t process_id_ = 0;
  uint32_t thread_id_ = 0;
  LogTime time_;
  std::optional<std::ostringstream> message_;  // absent for a disabled record
  const char* file_;
  int32_t line_;
  bool disabled_;
};

// The output hook: same contract as the library's LogMessageCallback
// (severity, file or null, line or 0, finished line) -> non-zero if handled.
using LogOutputHook = int32_t (*)(int32_t severity, const char* file, int32_t line,
                                  const char* text);

// Sets the process-wide hook (null at load). Any thread.
void SetLogOutputHook(LogOutputHook hook);
LogOutputHook GetLogOutputHook();

// Receives the bytes of every line the hook did not handle (no terminating
// null). Installed by the log-file choice; null at load (no file logging).
using LogFileWriter = void (*)(const char* data, size_t size);
void SetLogFileWriter(LogFileWriter writer);
LogFileWriter GetLogFileWriter();

// The process-wide flood filter every record passes through.
LogFloodFilter& ProcessLogFloodFilter();

// Turns `LogVoidify() & stream` into a void expression for the macros.
struct LogVoidify {
  void operator&(std::ostream&) {}
};

}  // namespace BrisqFramework

#define BRISQ_LOG_SEVERITY_INFO ::BrisqFramework::kLogInfo
#define BRISQ_LOG_SEVERITY_WARNING ::BrisqFramework::kLogWarning
#define BRISQ_LOG_SEVERITY_ERROR ::BrisqFramework::kLogError
#define BRISQ_LOG_SEVERITY_FATAL ::BrisqFramework::kLogFatal

// One record without source position; stream the message into it. The
// macros end in a stream to write into, so their bodies cannot be
// parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define BRISQ_LOG(severity)                                 \
  !::BrisqFramework::LogIsOn(BRISQ_LOG_SEVERITY_##severity) \
      ? (void)0                                             \
      : ::BrisqFramework::LogVoidify() &                    \
            ::BrisqFramework::LogMessage(BRISQ_LOG_SEVERITY_##severity).stream()

// One record naming this source file and line; stream the message into it.
#define BRISQ_LOG_AT(severity)                                                              \
  !::BrisqFramework::LogIsOn(BRISQ_LOG_SEVERITY_##severity)                                 \
      ? (void)0                                                                             \
      : ::BrisqFramework::LogVoidify() &                                                    \
            ::BrisqFramework::LogMessage(__FILE__, __LINE__, BRISQ_LOG_SEVERITY_##severity) \
                .stream()
// NOLINTEND(bugprone-macro-parentheses)

#endif  // BRISQFRAMEWORK_COMMON_LOGMESSAGE_H
