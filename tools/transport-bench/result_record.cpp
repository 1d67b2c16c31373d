#include "result_record.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace transport_bench {

std::string FormatRecord(const ResultRecord& record) {
  std::string text;
  for (const auto& entry : record) {
    text += entry.first + "=" + std::to_string(entry.second) + "\n";
  }
  return text;
}

bool ParseRecord(const std::string& text, ResultRecord* record) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    const std::string value = line.substr(equals + 1);
    if (value.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    (*record)[line.substr(0, equals)] = static_cast<int64_t>(number);
  }
  return true;
}

}  // namespace transport_bench
