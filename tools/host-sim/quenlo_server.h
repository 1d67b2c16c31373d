// quenlo_server.h - Quenlo.dll loaded at run time, and host-sim's one
// reference to its pipe server.
#ifndef TOOLS_HOST_SIM_QUENLO_SERVER_H
#define TOOLS_HOST_SIM_QUENLO_SERVER_H

#include <string>

#include "Quenlo/Quenlo.h"

namespace host_sim {

// The library's module and the two exports host-sim binds by ordinal:
// 2 CreatePipeServer and 7 SetLogMessageCallback. The module is never
// unloaded: library threads (logging among them) may outlive every object
// host-sim releases, and they must not find their code gone.
class QuenloLibrary {
 public:
  QuenloLibrary() = default;
  QuenloLibrary(const QuenloLibrary&) = delete;
  QuenloLibrary& operator=(const QuenloLibrary&) = delete;

  // Loads the DLL at the full `path` and resolves both ordinals. False with
  // `error` set ("cannot load ...: <system text>", "... has no export
  // ordinal N") when that fails.
  bool load(const std::wstring& path, std::string& error);

  PFN_CreatePipeServer create_server = nullptr;
  PFN_SetLogMessageCallback set_log_callback = nullptr;
};

// Owns one reference to a server. Destruction closes the server and then
// releases the reference, which tears the pipe down and joins the library's
// threads that call the host's callback, so no callback runs afterwards.
// Must not be destroyed from inside the callback.
class ServerRef {
 public:
  ServerRef() = default;
  ~ServerRef() { reset(); }
  ServerRef(const ServerRef&) = delete;
  ServerRef& operator=(const ServerRef&) = delete;

  // Creates a server through `library`; false when the export refuses.
  bool create(const QuenloLibrary& library);
  // Close, then the last Release. Main thread.
  void reset();
  Quenlo::IPipeServer* get() const { return server_; }
  Quenlo::IPipeServer* operator->() const { return server_; }

 private:
  Quenlo::IPipeServer* server_ = nullptr;
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_QUENLO_SERVER_H
