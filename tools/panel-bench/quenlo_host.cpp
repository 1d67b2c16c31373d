#include "quenlo_host.h"

#include <utility>

#include "tools/common/quenlo_exports.h"

namespace panel_host {

QuenloHost::QuenloHost(HostHandler handler) : handler_(std::move(handler)) {}

QuenloHost::~QuenloHost() { close(); }

bool QuenloHost::open(const std::wstring& library, const std::wstring& pipe,
                      std::uint32_t channels) {
  if (server_ != nullptr) return false;
  module_.reset(::LoadLibraryW(library.c_str()));
  if (!module_) return false;
  const PFN_CreatePipeServer create = quenlo_tools::BindQuenloExports(module_.get()).create_server;
  Quenlo::IPipeServer* server = nullptr;
  if (create == nullptr || !create(&server) || server == nullptr) {
    module_.reset();
    return false;
  }
  server_ = server;
  server_->SetCallback(&QuenloHost::on_event, this);
  server_->Open(pipe.c_str(), channels);
  return true;
}

bool QuenloHost::send(std::uint32_t type, const std::string& bytes) {
  if (server_ == nullptr) return false;
  return server_->SendMessage(type, bytes.data(), static_cast<std::uint32_t>(bytes.size())) != 0;
}

bool QuenloHost::connected() const { return server_ != nullptr && server_->IsConnected() != 0; }

void QuenloHost::close() {
  if (server_ == nullptr) return;
  server_->Close();
  server_->Release();
  server_ = nullptr;
  module_.reset();
}

void QuenloHost::on_event(IPC_EVENT_TYPE event, std::uint32_t type, const char* data,
                          std::uint32_t length, void* context) {
  static_cast<QuenloHost*>(context)->handler_(event, type, data, length);
}

std::wstring program_folder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, size);
  return full.substr(0, full.rfind(L'\\') + 1);
}

}  // namespace panel_host
