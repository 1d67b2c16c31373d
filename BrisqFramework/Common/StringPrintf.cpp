#include "BrisqFramework/Common/StringPrintf.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace BrisqFramework {

std::string StringPrintf(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  std::string result;
  if (n >= 0 && static_cast<size_t>(n) < sizeof(small)) {
    result.assign(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    int m = std::vsnprintf(big.data(), big.size(), format, again);
    if (m >= 0) result.assign(big.data(), std::min(static_cast<size_t>(m), big.size() - 1));
  }
  va_end(again);
  return result;
}

}  // namespace BrisqFramework
