#include "quenlo_api.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace transport_bench {
namespace {

int32_t DiscardLogLine(int32_t, const char*, int32_t, const char*) { return 1; }

int32_t PrintLogLine(int32_t, const char*, int32_t, const char* text) {
  std::fputs(text, stderr);
  return 1;
}

template <typename Function>
Function Resolve(HMODULE module, WORD ordinal) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

std::wstring DefaultLibraryPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring self(path, length);
  return self.substr(0, self.rfind(L'\\') + 1) + L"Quenlo.dll";
}

const QuenloApi* LoadQuenlo(const std::wstring& path, bool print_log, std::string* error) {
  static std::once_flag once;
  static QuenloApi api;
  static const QuenloApi* loaded = nullptr;
  static std::string load_error;
  std::call_once(once, [&] {
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) {
      load_error = "cannot load Quenlo.dll (error " + std::to_string(::GetLastError()) + ")";
      return;
    }
    api.create_client = Resolve<PFN_CreatePipeClient>(module, QUENLO_ORDINAL_CreatePipeClient);
    api.create_server = Resolve<PFN_CreatePipeServer>(module, QUENLO_ORDINAL_CreatePipeServer);
    api.time_ns = Resolve<PFN_GetTimeNS>(module, QUENLO_ORDINAL_GetTimeNS);
    api.set_log = Resolve<PFN_SetLogMessageCallback>(module, QUENLO_ORDINAL_SetLogMessageCallback);
    if (api.create_client == nullptr || api.create_server == nullptr || api.time_ns == nullptr ||
        api.set_log == nullptr) {
      load_error = "Quenlo.dll lacks export ordinal 1, 2, 5 or 7";
      return;
    }
    api.set_log(print_log ? &PrintLogLine : &DiscardLogLine);
    loaded = &api;
  });
  if (loaded == nullptr && error != nullptr) *error = load_error;
  return loaded;
}

}  // namespace transport_bench
