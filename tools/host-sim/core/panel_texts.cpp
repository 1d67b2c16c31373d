#include "tools/host-sim/core/panel_texts.h"

namespace host_sim {
namespace {

const std::string kFullWidthColon = "\xEF\xBC\x9A";  // ：
const std::string kVotesSuffix = " \xE7\xA5\xA8";    // " 票"

}  // namespace

int64_t votes_in_result_line(const std::string& line) {
  const size_t colon = line.rfind(kFullWidthColon);
  if (colon == std::string::npos || line.size() < kVotesSuffix.size() ||
      line.compare(line.size() - kVotesSuffix.size(), kVotesSuffix.size(), kVotesSuffix) != 0) {
    return -1;
  }
  const size_t begin = colon + kFullWidthColon.size();
  const size_t end = line.size() - kVotesSuffix.size();
  if (begin >= end || end - begin > 18) return -1;
  int64_t votes = 0;
  for (size_t i = begin; i < end; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    votes = votes * 10 + (line[i] - '0');
  }
  return votes;
}

std::string content_of_candidate(const std::string& entry) {
  const size_t colon = entry.find(kFullWidthColon);
  return colon == std::string::npos ? entry : entry.substr(colon + kFullWidthColon.size());
}

}  // namespace host_sim
