#include "BrisqFramework/Common/LogFormat.h"

#include <cstring>

namespace BrisqFramework {
namespace {

// Hand-rolled digits: the header is built for every delivered line, and
// snprintf was most of a line's cost.
void AppendUnsigned(std::string& out, uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

void AppendSigned(std::string& out, int64_t value) {
  if (value < 0) {
    out.push_back('-');
    AppendUnsigned(out, 0 - static_cast<uint64_t>(value));
  } else {
    AppendUnsigned(out, static_cast<uint64_t>(value));
  }
}

// At least `width` digits, zero-padded (as printf's "%0<width>d").
void AppendPadded(std::string& out, int value, int width) {
  if (value < 0) {
    AppendSigned(out, value);
    return;
  }
  int digits = 1;
  for (int v = value; v >= 10; v /= 10) ++digits;
  for (; digits < width; ++digits) out.push_back('0');
  AppendUnsigned(out, static_cast<uint64_t>(value));
}

}  // namespace

const char* LogSeverityName(int32_t severity) {
  switch (severity) {
    case kLogInfo:
      return "INFO";
    case kLogWarning:
      return "WARNING";
    case kLogError:
      return "ERROR";
    case kLogFatal:
      return "FATAL";
    default:
      return "UNKNOWN";
  }
}

void AppendLogHeader(std::string& out, uint32_t process_id, uint32_t thread_id, const LogTime& time,
                     int32_t severity, const char* file, int32_t line) {
  out.push_back('[');
  AppendUnsigned(out, process_id);
  out.push_back(':');
  AppendUnsigned(out, thread_id);
  out.push_back(':');
  AppendSigned(out, time.year);
  out.push_back('-');
  AppendPadded(out, time.month, 2);
  out.push_back('-');
  AppendPadded(out, time.day, 2);
  out.push_back('/');
  AppendPadded(out, time.hour, 2);
  out.push_back(':');
  AppendPadded(out, time.minute, 2);
  out.push_back(':');
  AppendPadded(out, time.second, 2);
  out.push_back('.');
  AppendPadded(out, time.millisecond, 3);
  out.push_back(':');
  out.append(LogSeverityName(severity));
  out.append("] ");
  if (file != nullptr) {
    out.append(file);
    out.push_back('(');
    AppendSigned(out, line);
    out.append(")] ");
  }
}

}  // namespace BrisqFramework
