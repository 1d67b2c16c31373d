#include "BrisqFramework/Common/LogException.h"

#include <exception>
#include <new>

#include "BrisqFramework/Common/LogMessage.h"

namespace BrisqFramework {

void LogCaughtException(const char* file, int32_t line, const char* context) noexcept {
  try {
    try {
      throw;  // the exception being handled, to tell its kind
    } catch (const std::bad_alloc&) {
      LogMessage(file, line, kLogError).stream() << context << ": out of memory";
    } catch (const std::exception& e) {
      LogMessage(file, line, kLogError).stream() << context << ": exception (" << e.what() << ")";
    } catch (...) {
      LogMessage(file, line, kLogError).stream() << context << ": unknown exception";
    }
  } catch (...) {
  }
}

}  // namespace BrisqFramework
