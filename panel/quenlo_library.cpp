#include "panel/quenlo_library.h"

#include <windows.h>

#include <utility>

namespace tessaly {

const wchar_t* const kQuenloFileName = L"Quenlo.dll";

namespace {

// The export with `ordinal` as a pointer of type Fn, or null. The detour
// through void (*)() is the generic function pointer type that converts to
// any other without a signature mismatch warning.
template <typename Fn>
Fn export_by_ordinal(HMODULE module, WORD ordinal) {
  const FARPROC proc = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

bool QuenloLibrary::load(const std::wstring& path) {
  *this = QuenloLibrary();
  if (path.empty()) return false;
  // A full path: the library is never searched for anywhere else. Its own
  // dependencies are looked up beside it first.
  UniqueModule module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module) return false;
  const auto create =
      export_by_ordinal<PFN_CreatePipeClient>(module.Get(), QUENLO_ORDINAL_CreatePipeClient);
  const auto time = export_by_ordinal<PFN_GetTimeNS>(module.Get(), QUENLO_ORDINAL_GetTimeNS);
  const auto set_log = export_by_ordinal<PFN_SetLogMessageCallback>(
      module.Get(), QUENLO_ORDINAL_SetLogMessageCallback);
  if (create == nullptr || time == nullptr || set_log == nullptr) return false;
  module_ = std::move(module);
  create_pipe_client = create;
  get_time_ns = time;
  set_log_message_callback = set_log;
  return true;
}

std::wstring program_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], size);
    if (n == 0) return {};
    if (n < size) {
      path.resize(n);
      break;
    }
    // Truncated: try again with a larger buffer (long path names).
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  path.resize(slash + 1);
  return path;
}

}  // namespace tessaly
