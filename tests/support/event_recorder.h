// Records every event a pipe endpoint (client, server or bare channel)
// hands to its callback, so that tests wait for events instead of sleeping.
//
// Threads: Callback runs on the library's threads, several at once; every
// other method may be called from any thread.
#ifndef TESTS_SUPPORT_EVENT_RECORDER_H
#define TESTS_SUPPORT_EVENT_RECORDER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Quenlo/Quenlo.h"
#include "tests/support/wait_until.h"

namespace test_support {

struct PipeEvent {
  uint32_t event = 0;
  uint32_t type = 0;
  std::string data;
  bool null_data = true;
  std::chrono::steady_clock::time_point at;
  uint32_t connected = 0;  // the endpoint's IsConnected during the call (see is_connected)
  // EVENT_PACKET: the record (its plane pointers are stale afterwards) and
  // what was checked during the call, while the planes were valid.
  MediaPacket packet = {};
  bool payload_mapped = false;   // plane 0 lies in a file mapping
  bool payload_matches = false;  // check_payload accepted the planes
};

class EventRecorder {
 public:
  static constexpr uint32_t kAnyType = ~0u;

  // Hooks, set before the endpoint gets the callback. All run on the
  // library's thread during the call.
  std::function<uint32_t()> is_connected;
  std::function<bool(const MediaPacket&)> check_payload;
  // Runs before the event is recorded: it may act first (a callback that
  // sends) or fill in `e`.
  std::function<void(PipeEvent& e, const char* data, uint32_t length)> inspect;
  // Runs after the event was recorded (waiters may already have woken).
  std::function<void(uint32_t event, uint32_t type, const char* data, uint32_t length)> on_event;

  // The callback for SetCallback, with the recorder as context.
  static void Callback(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                       void* context);
  // The same, for a callback typed with a plain event number.
  static void RawCallback(uint32_t event, uint32_t type, const char* data, uint32_t length,
                          void* context);

  // Waits until `done` (called under the recorder's lock) holds.
  bool WaitFor(const std::function<bool(const std::vector<PipeEvent>&)>& done,
               std::chrono::milliseconds timeout = kWaitTimeout);
  // Waits until `count` events of the kind (and of `type`) came.
  bool WaitForCount(uint32_t event, size_t count = 1, uint32_t type = kAnyType,
                    std::chrono::milliseconds timeout = kWaitTimeout);

  std::vector<PipeEvent> Events() const;
  std::vector<PipeEvent> Of(uint32_t event) const;
  std::vector<uint32_t> Kinds() const;
  size_t Count(uint32_t event, uint32_t type = kAnyType) const;
  // Position of the first such event, or -1.
  int IndexOf(uint32_t event) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<PipeEvent> events_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_EVENT_RECORDER_H
