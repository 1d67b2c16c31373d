#pragma once

// Messages that the host link posts from the library's callback thread to the
// control panel window. All carry WPARAM 0.

#include <windows.h>

namespace tessaly {

constexpr UINT kMsgComment = WM_APP + 1;    // LPARAM: heap LiveComment*, the receiver owns it
constexpr UINT kMsgConnected = WM_APP + 2;  // the link came up
constexpr UINT kMsgHostDisconnected = WM_APP + 3;  // the host disconnected; the panel ends
constexpr UINT kMsgFocus = WM_APP + 4;             // bring the panel to the front
constexpr UINT kMsgCloseRequest = WM_APP + 5;      // the host asks the panel to close
constexpr UINT kMsgLinkBroken = WM_APP + 6;        // the link broke or was reset

}  // namespace tessaly
