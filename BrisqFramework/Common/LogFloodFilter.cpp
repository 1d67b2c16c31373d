#include "BrisqFramework/Common/LogFloodFilter.h"

namespace BrisqFramework {

bool LogFloodFilter::Admit(const std::string& text, int64_t now_ns) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (has_last_ && now_ns - last_time_ < kBurstGapNs) {
    last_time_ = now_ns;
    for (Entry& entry : entries_) {
      if (entry.used && entry.text == text) {
        ++entry.count;
        entry.time = now_ns;
        return entry.count <= kRepeatLimit;
      }
    }
    // A new text in this burst: the first free entry, else the one seen least
    // recently (the first of equals in table order).
    Entry* target = nullptr;
    for (Entry& entry : entries_) {
      if (!entry.used) {
        target = &entry;
        break;
      }
    }
    if (target == nullptr) {
      target = &entries_[0];
      for (Entry& entry : entries_) {
        if (entry.time < target->time) target = &entry;
      }
    }
    target->text = text;
    target->used = true;
    target->count = 1;
    target->time = now_ns;
    return true;
  }
  // First record, or a full second of silence: a new burst begins.
  if (has_last_) ClearLocked();
  has_last_ = true;
  last_time_ = now_ns;
  entries_[0].text = text;
  entries_[0].used = true;
  entries_[0].count = 1;
  entries_[0].time = now_ns;
  return true;
}

void LogFloodFilter::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  ClearLocked();
  has_last_ = false;
  last_time_ = 0;
}

void LogFloodFilter::ClearLocked() {
  for (Entry& entry : entries_) {
    entry.text.clear();
    entry.used = false;
    entry.count = 0;
    entry.time = 0;
  }
}

}  // namespace BrisqFramework
