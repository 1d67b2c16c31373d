#pragma once

#include <windows.h>

namespace tessaly {

// Control ids of the control panel.
constexpr int kIdStatus = 100;
constexpr int kIdTitle = 101;
constexpr int kIdLabel1 = 102;
constexpr int kIdToken1 = 103;
constexpr int kIdLabel2 = 104;
constexpr int kIdToken2 = 105;
constexpr int kIdStart = 106;
constexpr int kIdEnd = 107;
constexpr int kIdShowResults = 108;
constexpr int kIdResult1 = 109;
constexpr int kIdResult2 = 110;
constexpr int kIdCandidates = 111;
constexpr int kIdConfirm = 112;
constexpr int kIdConfirmed = 113;

// The refresh timer: applies the dirty flags every 100 ms.
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshPeriodMs = 100;

// The control panel's window procedure (UI thread). The AppContext arrives as
// the creation parameter and is kept in GWLP_USERDATA; until then every
// message goes to DefWindowProcW. It builds the controls and the first overlay
// at WM_CREATE, runs the refresh timer, handles the buttons, hides the window
// on the close box unless the context is closing, and applies the host link's
// posted messages.
LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace tessaly
