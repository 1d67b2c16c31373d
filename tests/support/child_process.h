// A child process for tests: started without handle inheritance unless asked
// for (a child must not hold the server's end of a pipe or any other handle
// of the test), killed if it outlives its watchdog, and killed and closed
// when the object goes away.
//
// Threads: the owner's thread runs every method; the watchdog runs on a
// thread of its own and only terminates the process.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H
#define TESTS_SUPPORT_CHILD_PROCESS_H

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "tests/support/wait_until.h"
#include "tools/common/launched_process.h"

namespace test_support {

// This program's path, and its folder ending in a backslash (where the
// build puts the DLL, the tools and the other programs).
std::wstring SelfPath();
std::wstring BuildFolder();

// The tools' launch options, and a watchdog: the child is terminated (exit
// code kWatchdogExitCode) after this long.
struct ChildOptions : quenlo_tools::LaunchOptions {
  std::chrono::milliseconds watchdog{120000};
};

class ChildProcess {
 public:
  static constexpr DWORD kKilledExitCode = 77;
  static constexpr DWORD kWatchdogExitCode = 78;
  // What Wait returns when the child did not end in time.
  static constexpr DWORD kStillRunning = quenlo_tools::LaunchedProcess::kStillRunning;

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Runs `command_line`; false when the process could not be created.
  bool Start(std::wstring command_line, const ChildOptions& options = {});
  // Runs this test program again with `arguments`.
  bool StartSelf(const std::wstring& arguments, const ChildOptions& options = {});

  // Waits for the end; the exit code, or kStillRunning on time-out.
  DWORD Wait(std::chrono::milliseconds timeout = kWaitTimeout) const;
  bool Running() const;
  // Ends the child at once (as a crash would) and closes its handle.
  void Kill();

  DWORD Id() const { return process_.Id(); }
  HANDLE Handle() const { return process_.Handle(); }

 private:
  quenlo_tools::LaunchedProcess process_;
  BrisqFramework::BrisqHandle stop_watchdog_;  // set by Kill
  std::thread watchdog_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H
