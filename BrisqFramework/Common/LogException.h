// LogException.h - the log line of an exception stopped at a boundary.
//
// No exception leaves the library or the panel through an exported function,
// an interface operation, a thread, a task or a callback: each boundary
// catches everything, logs one ERROR line with this helper and returns its
// failure value or drops its work item.
#ifndef BRISQFRAMEWORK_COMMON_LOGEXCEPTION_H
#define BRISQFRAMEWORK_COMMON_LOGEXCEPTION_H

#include <cstdint>

namespace BrisqFramework {

// Call only inside a catch block. Logs ERROR, naming `file` and `line`:
//   "<context>: out of memory"            for std::bad_alloc
//   "<context>: exception (<what()>)"     for another std::exception
//   "<context>: unknown exception"        for anything else
// Never throws: when even the line cannot be made, it is lost.
void LogCaughtException(const char* file, int32_t line, const char* context) noexcept;

}  // namespace BrisqFramework

// In a catch block: the line above, naming this source position.
#define BRISQ_LOG_CAUGHT(context) ::BrisqFramework::LogCaughtException(__FILE__, __LINE__, context)

#endif  // BRISQFRAMEWORK_COMMON_LOGEXCEPTION_H
