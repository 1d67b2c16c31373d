#pragma once

// A stand-in for the streaming host, built on the real Quenlo.dll: the
// library is loaded from a path, CreatePipeServer is bound by its ordinal (2)
// and one server is opened under a pipe name. Used by the panel's end-to-end
// tests and by panel-bench, which drive a real Tessaly.exe against it.
//
// Threads: open, send and close come from the owner's thread. The handler is
// called on the library's threads, several at once (channel events on the
// "IPC Reader", packets on each channel's reader threads), so it must be
// thread-safe; it runs until close() returns and must not call close().

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "Quenlo/Quenlo.h"

namespace panel_host {

// One event as the server's callback reports it; `data` is valid only during
// the call (for EVENT_PACKET it is the 168-byte MediaPacket, whose plane
// pointers lead into the shared-memory ring).
using HostHandler = std::function<void(IPC_EVENT_TYPE event, std::uint32_t type, const char* data,
                                       std::uint32_t length)>;

class QuenloHost {
 public:
  explicit QuenloHost(HostHandler handler);
  ~QuenloHost();  // close()
  QuenloHost(const QuenloHost&) = delete;
  QuenloHost& operator=(const QuenloHost&) = delete;

  // Loads `library`, creates a server, installs the handler and opens the
  // server under `pipe` with `channels` media channels; the server then
  // waits for a client in the background. False, with nothing left open,
  // when the library, its export or the server cannot be had, or when the
  // host is already open.
  bool open(const std::wstring& library, const std::wstring& pipe, std::uint32_t channels);

  // Sends `bytes` as one message of `type` to the connected client. The
  // server's result: false while no client is connected or the send failed.
  bool send(std::uint32_t type, const std::string& bytes);

  // The server's connected flag; false when not open.
  bool connected() const;

  // Closes the server and releases it; the last release waits for the
  // server's teardown, so no handler call runs after this returns. Then
  // the library is unloaded. Does nothing when not open.
  void close();

 private:
  static void on_event(IPC_EVENT_TYPE event, std::uint32_t type, const char* data,
                       std::uint32_t length, void* context);

  struct ModuleCloser {
    void operator()(HMODULE module) const noexcept { ::FreeLibrary(module); }
  };

  HostHandler handler_;
  // Declared before the server so the library outlives the server's release.
  std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser> module_;
  Quenlo::IPipeServer* server_ = nullptr;  // one reference while open
};

// The folder of the running program, ending in a backslash.
std::wstring program_folder();

}  // namespace panel_host
