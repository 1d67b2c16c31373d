#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

struct AppContext;

// The request id of a subscribe request: "subscribe-" + event name + "-" +
// the milliseconds since 1970-01-01 UTC.
std::string subscribe_request_id(const char* event_name, std::int64_t unix_ms);

// Sends one subscribe request for `event_name` as a message of type 101,
// stamped with the current system time in milliseconds. The send's result is
// ignored. Called on the library's callback thread.
void subscribe(AppContext& app, const char* event_name);

}  // namespace tessaly
