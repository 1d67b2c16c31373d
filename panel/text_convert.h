#pragma once

#include <windows.h>

#include <string>

namespace tessaly {

// UTF-8 to UTF-16. Empty for empty input and for input that is not valid
// UTF-8 (nothing is replaced or guessed).
std::wstring wide_from_utf8(const std::string& text);

// UTF-16 to UTF-8, with no default character. Empty for empty input and when
// the system refuses the conversion.
std::string utf8_from_wide(const std::wstring& text);

// The whole text of a control, cut at its first null character. Empty when
// the control has no text or does not exist.
std::wstring control_text(HWND control);

}  // namespace tessaly
