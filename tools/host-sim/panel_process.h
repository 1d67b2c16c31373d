// panel_process.h - starting the Tessaly.exe that host-sim watches.
#ifndef TOOLS_HOST_SIM_PANEL_PROCESS_H
#define TOOLS_HOST_SIM_PANEL_PROCESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/launched_process.h"

namespace host_sim {

// The panel's launch options, in the form it reads them.
std::vector<std::wstring> panel_arguments(const std::wstring& pipe_name, uint32_t channels,
                                          const std::wstring& halvory_version, int32_t layout_mode);

// Starts `exe` with `arguments` in the exe's own folder, inheriting no
// handles, standard handles included. False with `error` set when the
// process cannot be created.
bool start_panel(quenlo_tools::LaunchedProcess& panel, const std::wstring& exe,
                 const std::vector<std::wstring>& arguments, std::string& error);

// The panel's exit code after waiting up to `timeout_ms`, or -1 while it runs.
int64_t panel_exit_code(const quenlo_tools::LaunchedProcess& panel, unsigned long timeout_ms);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_PANEL_PROCESS_H
