// client_launcher.h - starts the client side of one measurement and
// collects its figures: in a child process (this program, started with
// "--client ..." and a result file), or on a thread of this process.
//
// Used by the measuring thread only; Start and Finish alternate.
#ifndef TRANSPORT_BENCH_CLIENT_LAUNCHER_H
#define TRANSPORT_BENCH_CLIENT_LAUNCHER_H

#include <windows.h>

#include <string>
#include <thread>

#include "quenlo_api.h"
#include "result_record.h"
#include "scenario.h"
#include "tools/common/launched_process.h"
#include "win_handles.h"

namespace transport_bench {

class ClientLauncher {
 public:
  // `api` serves the same-process clients; a child loads `library` itself.
  ClientLauncher(bool same_process, std::wstring library, bool print_log, const QuenloApi* api);
  // Joins a thread or ends a child still running.
  ~ClientLauncher();
  ClientLauncher(const ClientLauncher&) = delete;
  ClientLauncher& operator=(const ClientLauncher&) = delete;

  bool same_process() const { return same_process_; }

  // Starts the client side of `request`. False, with *error set, when the
  // child cannot be started.
  bool Start(const ClientRequest& request, std::string* error);
  // Waits for the client side to end and reads its figures. A child that
  // still runs after timeout_ms is terminated (a thread is always joined;
  // its waits are bounded). False, with *error set, when the client failed.
  bool Finish(DWORD timeout_ms, ResultRecord* results, std::string* error);
  // Signalled once the client side started by Start has ended (the child
  // process, or an event the thread sets last); waitable with other handles.
  HANDLE ended() const { return same_process_ ? thread_ended_.Get() : process_.Handle(); }

 private:
  const bool same_process_;
  const std::wstring library_;
  const bool print_log_;
  const QuenloApi* const api_;
  unsigned sequence_ = 0;

  // Same-process client: the thread and what it hands back once joined.
  std::thread thread_;
  bool thread_ok_ = false;
  ResultRecord thread_results_;
  std::string thread_error_;
  UniqueHandle thread_ended_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  // Child client.
  quenlo_tools::LaunchedProcess process_;
  std::wstring result_path_;
};

// The child's side: runs the role named on the command line (argv[1] is
// "--client") and writes its figures to the "--result" file, or the error
// as "error=..." text. Returns the child's exit code (0 when it succeeded).
int RunChildClient(int argc, wchar_t** argv);

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_CLIENT_LAUNCHER_H
