#include "panel/subscribe.h"

#include <chrono>

#include "panel/app_context.h"
#include "panel/live/live_event.h"

namespace tessaly {

namespace {

constexpr std::uint32_t kRequestMessageType = 101;

std::int64_t unix_time_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string subscribe_request_id(const char* event_name, std::int64_t unix_ms) {
  return std::string("subscribe-") + event_name + "-" + std::to_string(unix_ms);
}

void subscribe(AppContext& app, const char* event_name) {
  if (!app.client) return;
  const std::int64_t now = unix_time_ms();  // read once: id and time stamp agree
  const std::string request =
      make_subscribe_request(subscribe_request_id(event_name, now), event_name, now);
  app.client->SendMessage(kRequestMessageType, request.data(),
                          static_cast<std::uint32_t>(request.size()));
}

}  // namespace tessaly
