#include "tools/host-sim/quenlo_server.h"

#include <windows.h>

#include "tools/common/quenlo_exports.h"
#include "tools/host-sim/wide_text.h"

namespace host_sim {
namespace {

std::string system_text(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  return "error " + std::to_string(code) + (message.empty() ? "" : ", " + narrow(message));
}

}  // namespace

bool QuenloLibrary::load(const std::wstring& path, std::string& error) {
  // The DLL's folder is searched for its own dependencies, not host-sim's.
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    error = "cannot load " + narrow(path) + " (" + system_text(::GetLastError()) + ")";
    return false;
  }
  const quenlo_tools::QuenloExports exports = quenlo_tools::BindQuenloExports(module);
  create_server = exports.create_server;
  set_log_callback = exports.set_log_callback;
  if (create_server == nullptr || set_log_callback == nullptr) {
    error = narrow(path) + " has no export ordinal " +
            std::to_string(create_server == nullptr ? 2 : 7) + " (is it Quenlo.dll?)";
    return false;
  }
  return true;
}

bool ServerRef::create(const QuenloLibrary& library) {
  reset();
  Quenlo::IPipeServer* server = nullptr;
  if (library.create_server == nullptr || !library.create_server(&server) || server == nullptr) {
    return false;
  }
  server_ = server;
  return true;
}

void ServerRef::reset() {
  if (server_ == nullptr) return;
  server_->Close();
  server_->Release();
  server_ = nullptr;
}

}  // namespace host_sim
