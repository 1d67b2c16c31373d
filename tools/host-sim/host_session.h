// host_session.h - one host-sim run: serve the panel, feed it the
// scenario, capture its overlay, and judge the outcome.
#ifndef TOOLS_HOST_SIM_HOST_SESSION_H
#define TOOLS_HOST_SIM_HOST_SESSION_H

#include "tools/host-sim/console_output.h"
#include "tools/host-sim/core/host_sim_options.h"

namespace host_sim {

// Exit codes of host-sim.
enum ExitCode : int {
  kExitOk = 0,           // the session went as the scenario said
  kExitFellShort = 1,    // it did not; the summary's failures say why
  kExitBadInput = 2,     // bad options or scenario file
  kExitCannotStart = 3,  // Tessaly.exe, Quenlo.dll or the output folder unusable
};

// Runs the whole session on the calling thread (which must be able to use
// COM) and prints its summary. Returns an ExitCode.
int run_session(const HostSimOptions& options, ConsoleOutput& out);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_HOST_SESSION_H
