// console_output.h - host-sim's stdout: log lines and one live status line.
//
// On a console the status line is rewritten in place (carriage return);
// when stdout is a file or a pipe it is printed as a "status ..." line at
// most every two seconds, so that captured output stays readable. Any
// thread may call; one lock keeps lines whole.
#ifndef TOOLS_HOST_SIM_CONSOLE_OUTPUT_H
#define TOOLS_HOST_SIM_CONSOLE_OUTPUT_H

#include <chrono>
#include <mutex>
#include <string>

namespace host_sim {

class ConsoleOutput {
 public:
  ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // One UTF-8 line (no line feed) on stdout, below any status line.
  void line(const std::string& text);
  // One UTF-8 line on stderr.
  void error(const std::string& text);
  // Replaces the status line.
  void status(const std::string& text);
  // Ends the status line so that later output starts on a line of its own.
  void end_status();

 private:
  void clear_status_locked();

  std::mutex lock_;
  const bool console_;                                   // stdout is a console
  size_t status_width_ = 0;                              // lock_: characters of the shown status
  std::chrono::steady_clock::time_point last_status_{};  // lock_
};

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CONSOLE_OUTPUT_H
