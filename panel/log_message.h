#pragma once

#include <cstdint>

namespace tessaly {

// The panel's log sink for the library (SetLogMessageCallback): accepts every
// line and keeps none, returning 1 (handled) so the library writes nothing to
// a log file of its own while the panel runs. Safe on any thread.
std::int32_t log_message(std::int32_t level, const char* file, std::int32_t line, const char* text);

}  // namespace tessaly
