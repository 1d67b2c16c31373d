#include "Quenlo/MessageLogThrottle.h"

namespace Quenlo {

bool MessageLogThrottle::ShouldLog(int64_t now, int64_t frequency) {
  int64_t last = last_.load();
  if (last == 0) {
    // Only starts the clock; a racing first caller may have done so already.
    last_.compare_exchange_strong(last, now);
    return false;
  }
  // elapsed * 1e9 / frequency > 2e9 without the product: that overflows
  // 64 bits after about 15 minutes of silence at a 10 MHz counter.
  if (frequency <= 0 || now - last <= kIntervalSeconds * frequency) return false;
  return last_.compare_exchange_strong(last, now);
}

MessageLogThrottle& ProcessMessageLogThrottle() {
  static MessageLogThrottle throttle;
  return throttle;
}

}  // namespace Quenlo
