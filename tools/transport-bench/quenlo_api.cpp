#include "quenlo_api.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "tools/common/quenlo_exports.h"

namespace transport_bench {
namespace {

int32_t DiscardLogLine(int32_t, const char*, int32_t, const char*) { return 1; }

int32_t PrintLogLine(int32_t, const char*, int32_t, const char* text) {
  std::fputs(text, stderr);
  return 1;
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
    const quenlo_tools::QuenloExports exports = quenlo_tools::BindQuenloExports(module);
    api.create_client = exports.create_client;
    api.create_server = exports.create_server;
    api.time_ns = exports.get_time_ns;
    api.set_log = exports.set_log_callback;
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
