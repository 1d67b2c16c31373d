#include "panel/text_convert.h"

#include <climits>

namespace tessaly {

std::wstring wide_from_utf8(const std::string& text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in_len = static_cast<int>(text.size());
  const int out_len =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), in_len, nullptr, 0);
  if (out_len <= 0) return {};
  std::wstring out(static_cast<std::size_t>(out_len), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), in_len, &out[0], out_len) !=
      out_len) {
    return {};
  }
  return out;
}

std::string utf8_from_wide(const std::wstring& text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in_len = static_cast<int>(text.size());
  const int out_len =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), in_len, nullptr, 0, nullptr, nullptr);
  if (out_len <= 0) return {};
  std::string out(static_cast<std::size_t>(out_len), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), in_len, &out[0], out_len, nullptr, nullptr) !=
      out_len) {
    return {};
  }
  return out;
}

std::wstring control_text(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  if (length <= 0) return {};
  // One more for the terminating null that GetWindowTextW always writes.
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, &buffer[0], length + 1);
  if (copied <= 0) return {};
  buffer.resize(static_cast<std::size_t>(copied));
  const std::size_t null_at = buffer.find(L'\0');
  if (null_at != std::wstring::npos) buffer.resize(null_at);
  return buffer;
}

}  // namespace tessaly
