// MessageLogThrottle.h - how often the server logs a received message.
//
// Every message a server receives would otherwise write one INFO line; a
// busy link sends many per second. The line is written at most once per 2
// seconds, process-wide (all servers share one throttle), and the very first
// message only starts the clock.
#ifndef QUENLO_MESSAGELOGTHROTTLE_H
#define QUENLO_MESSAGELOGTHROTTLE_H

#include <atomic>
#include <cstdint>

namespace Quenlo {

class MessageLogThrottle {
 public:
  // The interval, in seconds, that must have passed since the last line.
  static constexpr int64_t kIntervalSeconds = 2;

  // `now` is a performance-counter reading (never 0), `frequency` the
  // counter's ticks per second. The first call records `now` and answers
  // false. Later calls answer true, and record `now`, when more than 2
  // seconds passed since the recorded time; concurrent callers that see the
  // same old time get one true between them. The comparison is made in
  // ticks, so no gap, however long, can overflow it. Any thread.
  bool ShouldLog(int64_t now, int64_t frequency);

 private:
  std::atomic<int64_t> last_{0};  // 0 = no message yet
};

// The process-wide throttle of the "[PipeServer] EVENT_MESSAGE" line.
MessageLogThrottle& ProcessMessageLogThrottle();

}  // namespace Quenlo

#endif  // QUENLO_MESSAGELOGTHROTTLE_H
