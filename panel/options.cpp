#include "panel/options.h"

#include <cerrno>
#include <climits>
#include <cwchar>

namespace tessaly {

const wchar_t* const kErrorPipeNameMissing =
    L"缺少 pipeName。请从Halvory的互动工具入口启动本程序。";
const wchar_t* const kErrorMaxChannelsMissing =
    L"缺少 maxChannels。请从Halvory的互动工具入口启动本程序。";
const wchar_t* const kErrorMaxChannelsInvalid = L"启动参数 maxChannels 无效。";

namespace {

// The rest of `arg` after `prefix`, or null when `arg` does not start with it.
const wchar_t* after_prefix(const wchar_t* arg, const wchar_t* prefix) {
  const std::size_t n = std::wcslen(prefix);
  return std::wcsncmp(arg, prefix, n) == 0 ? arg + n : nullptr;
}

// wcstoul in base 10 (white space and a sign accepted, stops at the first
// non-digit). False when no digit was read or the value needs more than 32
// bits; a negative number wraps the way wcstoul wraps it.
bool read_unsigned32(const wchar_t* text, std::uint32_t& value) {
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long v = std::wcstoul(text, &end, 10);
  if (end == text || errno == ERANGE || v > 0xFFFFFFFFul) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

// wcstol in base 10; 0 when no digit was read or the value is out of range.
std::int32_t read_signed32_or_zero(const wchar_t* text) {
  wchar_t* end = nullptr;
  errno = 0;
  const long v = std::wcstol(text, &end, 10);
  if (end == text || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<std::int32_t>(v);
}

}  // namespace

const wchar_t* read_options(int argc, const wchar_t* const* argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (arg == nullptr) continue;
    if (const wchar_t* v = after_prefix(arg, L"--pipeName=")) {
      options.pipeName = v;
    } else if (const wchar_t* v = after_prefix(arg, L"--maxChannels=")) {
      std::uint32_t channels = 0;
      if (!read_unsigned32(v, channels) || channels == 0) return kErrorMaxChannelsInvalid;
      options.maxChannels = channels;
    } else if (const wchar_t* v = after_prefix(arg, L"--halvoryVersion=")) {
      options.halvoryVersion = v;
    } else if (const wchar_t* v = after_prefix(arg, L"--layoutMode=")) {
      options.layoutMode = read_signed32_or_zero(v);
    }
  }
  if (options.pipeName.empty()) return kErrorPipeNameMissing;
  if (options.maxChannels == 0) return kErrorMaxChannelsMissing;
  return nullptr;
}

}  // namespace tessaly
