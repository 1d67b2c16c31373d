// host-sim: plays the streaming host for Tessaly. See kUsage
// (core/host_sim_options.cpp) for what it does and its options.
//
// Threads: the main thread runs the whole session (host_session.cpp); the
// library's threads call the server callback (channel events, packets).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/host-sim/console_output.h"
#include "tools/host-sim/core/host_sim_options.h"
#include "tools/host-sim/host_session.h"
#include "tools/host-sim/png_writer.h"
#include "tools/host-sim/wide_text.h"

namespace {

// Under Wine the first program that needs the desktop window starts a
// desktop process and hands it the program's standard error. That process
// outlives host-sim, so a caller reading host-sim's output through a pipe
// would wait for ever. Make the desktop exist now, with no standard error
// to hand on. (On Windows this is a plain, harmless call.) The C library
// keeps writing to its own copy of the handle.
void start_desktop_without_stderr() {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  ::SetStdHandle(STD_ERROR_HANDLE, nullptr);
  ::GetDesktopWindow();
  ::SetStdHandle(STD_ERROR_HANDLE, error);
}

}  // namespace

int main() {
  start_desktop_without_stderr();
  host_sim::ConsoleOutput out;
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) {
    out.error("host-sim: cannot read the command line");
    return host_sim::kExitBadInput;
  }
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(host_sim::narrow(argv[i]));
  ::LocalFree(argv);

  host_sim::HostSimOptions options;
  std::string error;
  if (!host_sim::parse_options(args, options, error)) {
    out.error("host-sim: " + error);
    return host_sim::kExitBadInput;
  }
  if (options.help) {
    std::string usage = host_sim::kUsage;
    usage.pop_back();  // line() adds the last line feed
    out.line(usage);
    return host_sim::kExitOk;
  }
  host_sim::ComScope com;
  if (!com.ok()) {
    out.error("host-sim: COM could not be initialised");
    return host_sim::kExitCannotStart;
  }
  return host_sim::run_session(options, out);
}
