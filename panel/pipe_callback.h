#pragma once

#include <cstdint>

#include "Quenlo/Quenlo.h"

namespace tessaly {

// The panel's event callback, registered with the client's SetCallback and
// the AppContext as `context`. Runs on the library's reader thread: it keeps
// `connected`, subscribes to the host's events whenever the link comes up,
// reads EVENT_MESSAGE payloads as live-event texts, drops comments already
// seen (under dedupe_mutex) and posts everything else to the window as
// kMsg* messages. It touches no UI-thread state.
void pipe_callback(IPC_EVENT_TYPE event, std::uint32_t type, const char* data, std::uint32_t length,
                   void* context);

}  // namespace tessaly
