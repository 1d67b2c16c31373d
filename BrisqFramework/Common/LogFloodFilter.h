// LogFloodFilter.h - drops floods of repeated log texts.
#ifndef BRISQFRAMEWORK_COMMON_LOGFLOODFILTER_H
#define BRISQFRAMEWORK_COMMON_LOGFLOODFILTER_H

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace BrisqFramework {

// Within a burst of records that follow each other by less than a second,
// each distinct text passes at most 3 times. The burst, and with it every
// count, ends only after a full second without any record. Up to 10 distinct
// texts are tracked; an eleventh replaces the least recently seen one, which
// then counts from 1 again if it comes back.
//
// Only the text is compared: the same text at another severity or source
// position is a repeat. Time comes from the caller, so tests drive it.
// Thread-safe: one internal mutex, held only inside Admit and Clear.
class LogFloodFilter {
 public:
  static constexpr int kEntries = 10;
  static constexpr int32_t kRepeatLimit = 3;
  static constexpr int64_t kBurstGapNs = 1000000000;

  // Records `text` seen at `now_ns` and says whether it may be delivered.
  bool Admit(const std::string& text, int64_t now_ns);

  // Forgets every text and the burst (the state at load).
  void Clear();

 private:
  struct Entry {
    std::string text;
    int32_t count = 0;
    int64_t time = 0;
    bool used = false;
  };

  void ClearLocked();

  std::mutex mutex_;  // guards everything below
  std::array<Entry, kEntries> entries_;
  int64_t last_time_ = 0;
  bool has_last_ = false;  // a record was filtered before (last_time_ is valid)
};

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_LOGFLOODFILTER_H
