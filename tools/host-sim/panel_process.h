// panel_process.h - the Tessaly.exe that host-sim starts and watches.
#ifndef TOOLS_HOST_SIM_PANEL_PROCESS_H
#define TOOLS_HOST_SIM_PANEL_PROCESS_H

#include <windows.h>

#include <string>
#include <vector>

namespace host_sim {

// The panel's launch options, in the form it reads them.
std::vector<std::wstring> panel_arguments(const std::wstring& pipe_name, uint32_t channels,
                                          const std::wstring& halvory_version, int32_t layout_mode);

// One argument quoted for CommandLineToArgvW: unchanged when it needs no
// quotes, else in double quotes with backslashes before quotes doubled.
std::wstring quote_argument(const std::wstring& argument);

// A started Tessaly.exe. Owns the process and thread handles; the process
// is left running when the object goes away unless terminate() was called.
// Main thread only.
class PanelProcess {
 public:
  PanelProcess() = default;
  ~PanelProcess();
  PanelProcess(const PanelProcess&) = delete;
  PanelProcess& operator=(const PanelProcess&) = delete;

  // Starts `exe` with `arguments` in the exe's own folder. The child
  // inherits no handles, standard handles included: the server's pipe
  // handle is inheritable, and a child holding it would keep the pipe alive
  // after host-sim closes it.
  // False with `error` set when the process cannot be created.
  bool start(const std::wstring& exe, const std::vector<std::wstring>& arguments,
             std::string& error);

  DWORD id() const { return info_.dwProcessId; }
  HANDLE handle() const { return info_.hProcess; }
  bool running() const;
  // Waits up to `timeout_ms`; the exit code, or -1 when it still runs.
  int64_t wait_exit(DWORD timeout_ms) const;
  // Kills a process that is still running (exit code 99).
  void terminate();

 private:
  PROCESS_INFORMATION info_{};
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_PANEL_PROCESS_H
