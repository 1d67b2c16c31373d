// StringPrintf.h - printf-style formatting into a std::string.
#ifndef BRISQFRAMEWORK_COMMON_STRINGPRINTF_H
#define BRISQFRAMEWORK_COMMON_STRINGPRINTF_H

#include <string>

namespace BrisqFramework {

// Formats like snprintf, into a string of any length. A format error yields
// an empty string. Handy for log texts with %d/%x/%s fields:
//   BRISQ_LOG(INFO) << StringPrintf("PostTask [%x] [%x]", a, b);
std::string StringPrintf(const char* format, ...);

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_STRINGPRINTF_H
