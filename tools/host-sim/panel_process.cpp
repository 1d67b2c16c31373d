#include "tools/host-sim/panel_process.h"

#include "tools/host-sim/wide_text.h"

namespace host_sim {

std::vector<std::wstring> panel_arguments(const std::wstring& pipe_name, uint32_t channels,
                                          const std::wstring& halvory_version,
                                          int32_t layout_mode) {
  return {L"--pipeName=" + pipe_name, L"--maxChannels=" + std::to_wstring(channels),
          L"--halvoryVersion=" + halvory_version, L"--layoutMode=" + std::to_wstring(layout_mode)};
}

bool start_panel(quenlo_tools::LaunchedProcess& panel, const std::wstring& exe,
                 const std::vector<std::wstring>& arguments, std::string& error) {
  quenlo_tools::LaunchOptions options;
  options.working_folder = quenlo_tools::FolderOf(exe);
  options.standard_handles = false;
  DWORD failure = 0;
  if (panel.Start(quenlo_tools::CommandLine(exe, arguments), options, &failure)) return true;
  error = "cannot start " + narrow(exe) + " (error " + std::to_string(failure) + ")";
  return false;
}

int64_t panel_exit_code(const quenlo_tools::LaunchedProcess& panel, unsigned long timeout_ms) {
  const DWORD code = panel.Wait(timeout_ms);
  return code == quenlo_tools::LaunchedProcess::kStillRunning ? -1 : static_cast<int64_t>(code);
}

}  // namespace host_sim
