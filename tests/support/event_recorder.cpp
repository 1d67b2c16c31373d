#include "tests/support/event_recorder.h"

#include <windows.h>

#include <cstring>

namespace test_support {
namespace {

size_t CountIn(const std::vector<PipeEvent>& events, uint32_t event, uint32_t type) {
  size_t n = 0;
  for (const PipeEvent& e : events) {
    n += (e.event == event && (type == EventRecorder::kAnyType || e.type == type)) ? 1 : 0;
  }
  return n;
}

}  // namespace

void EventRecorder::Callback(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                             void* context) {
  RawCallback(static_cast<uint32_t>(event), type, data, length, context);
}

void EventRecorder::RawCallback(uint32_t event, uint32_t type, const char* data, uint32_t length,
                                void* context) {
  auto* self = static_cast<EventRecorder*>(context);
  PipeEvent e;
  e.event = event;
  e.type = type;
  e.null_data = data == nullptr;
  if (data != nullptr) e.data.assign(data, length);
  e.at = std::chrono::steady_clock::now();
  if (self->is_connected) e.connected = self->is_connected();
  if (event == EVENT_PACKET && data != nullptr && length == sizeof(MediaPacket)) {
    std::memcpy(&e.packet, data, sizeof(e.packet));
    MEMORY_BASIC_INFORMATION info = {};
    e.payload_mapped = e.packet.data[0] != nullptr &&
                       ::VirtualQuery(e.packet.data[0], &info, sizeof(info)) == sizeof(info) &&
                       info.Type == MEM_MAPPED;
    e.payload_matches = self->check_payload && self->check_payload(e.packet);
  }
  if (self->inspect) self->inspect(e, data, length);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->events_.push_back(std::move(e));
  }
  self->changed_.notify_all();
  if (self->on_event) self->on_event(event, type, data, length);
}

bool EventRecorder::WaitFor(const std::function<bool(const std::vector<PipeEvent>&)>& done,
                            std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(events_); });
}

bool EventRecorder::WaitForCount(uint32_t event, size_t count, uint32_t type,
                                 std::chrono::milliseconds timeout) {
  return WaitFor([&](const std::vector<PipeEvent>& e) { return CountIn(e, event, type) >= count; },
                 timeout);
}

std::vector<PipeEvent> EventRecorder::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<PipeEvent> EventRecorder::Of(uint32_t event) const {
  std::vector<PipeEvent> out;
  for (const PipeEvent& e : Events()) {
    if (e.event == event) out.push_back(e);
  }
  return out;
}

std::vector<uint32_t> EventRecorder::Kinds() const {
  std::vector<uint32_t> out;
  for (const PipeEvent& e : Events()) out.push_back(e.event);
  return out;
}

size_t EventRecorder::Count(uint32_t event, uint32_t type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CountIn(events_, event, type);
}

int EventRecorder::IndexOf(uint32_t event) const {
  const std::vector<PipeEvent> events = Events();
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].event == event) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace test_support
