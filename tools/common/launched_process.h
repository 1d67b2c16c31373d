// launched_process.h - starting another program and owning it: the one
// launcher of the tools (host-sim's Tessaly.exe, panel-bench's panel,
// transport-bench's client) and of the tests' child processes.
//
// A child inherits no handles unless asked: the server's pipe handle of a
// host may be inheritable, and a child holding a copy keeps the pipe alive
// after the host closed it.
//
// Threads: not synchronized; one thread owns an object and calls its methods.
#ifndef TOOLS_COMMON_LAUNCHED_PROCESS_H
#define TOOLS_COMMON_LAUNCHED_PROCESS_H

#include <windows.h>

#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace quenlo_tools {

// One argument quoted for CommandLineToArgvW: unchanged when it needs no
// quotes, else in double quotes with the backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& argument);
// `program` and `arguments`, each quoted, separated by spaces.
std::wstring CommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

// This program's path, and the folder of a path up to its last separator
// (with it; empty when there is none).
std::wstring SelfPath();
std::wstring FolderOf(const std::wstring& path);

struct LaunchOptions {
  std::wstring working_folder;  // empty: the caller's
  DWORD creation_flags = 0;     // e.g. CREATE_NO_WINDOW
  // False: the child gets no standard handles. Wine otherwise hands it the
  // caller's own, which keeps a caller's output file or pipe open after the
  // caller ended (and the child may pass them on to processes it starts).
  bool standard_handles = true;
  // Non-null: the child's stdout, and its stderr unless `error` is set; the
  // only handles it inherits. They must be inheritable.
  HANDLE output = nullptr;
  HANDLE error = nullptr;
  // Every inheritable handle of this process goes to the child, as from a
  // host that captures its children's output.
  bool inherit_all_handles = false;
};

class LaunchedProcess {
 public:
  // What Wait returns when the process did not end in time.
  static constexpr DWORD kStillRunning = ~0u;

  LaunchedProcess() = default;
  // Leaves a process that still runs running; Terminate ends it.
  ~LaunchedProcess() = default;
  LaunchedProcess(const LaunchedProcess&) = delete;
  LaunchedProcess& operator=(const LaunchedProcess&) = delete;

  // Runs `command_line`; false, with the system error in *error when given,
  // when the process could not be created. An earlier process is let go.
  bool Start(std::wstring command_line, const LaunchOptions& options, DWORD* error = nullptr);

  // Waits up to `timeout_ms`; the exit code, or kStillRunning.
  DWORD Wait(DWORD timeout_ms) const;
  bool Running() const;
  // Ends a process that still runs with `exit_code` and waits up to
  // `wait_ms` for it to be gone; the handle stays until Close.
  void Terminate(DWORD exit_code, DWORD wait_ms);
  void Close();

  bool Started() const { return process_.IsValid(); }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_.Get(); }

 private:
  BrisqFramework::BrisqHandle process_;
  DWORD id_ = 0;
};

}  // namespace quenlo_tools

#endif  // TOOLS_COMMON_LAUNCHED_PROCESS_H
