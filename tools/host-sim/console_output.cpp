#include "tools/host-sim/console_output.h"

#include <windows.h>

#include <cstdio>

namespace host_sim {
namespace {

bool stdout_is_console() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace

ConsoleOutput::ConsoleOutput() : console_(stdout_is_console()) {
  // Chinese texts are printed as UTF-8.
  if (console_) ::SetConsoleOutputCP(CP_UTF8);
}

void ConsoleOutput::clear_status_locked() {
  if (!console_ || status_width_ == 0) return;
  std::fputc('\r', stdout);
  for (size_t i = 0; i < status_width_; ++i) std::fputc(' ', stdout);
  std::fputc('\r', stdout);
  status_width_ = 0;
}

void ConsoleOutput::line(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  clear_status_locked();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ConsoleOutput::error(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  clear_status_locked();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void ConsoleOutput::status(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = std::chrono::steady_clock::now();
  if (!console_) {
    if (now - last_status_ < std::chrono::seconds(2)) return;
    last_status_ = now;
    std::fprintf(stdout, "status %s\n", text.c_str());
  } else {
    clear_status_locked();
    std::fwrite(text.data(), 1, text.size(), stdout);
    status_width_ = text.size();
  }
  std::fflush(stdout);
}

void ConsoleOutput::end_status() {
  std::lock_guard<std::mutex> hold(lock_);
  if (console_ && status_width_ != 0) {
    std::fputc('\n', stdout);
    status_width_ = 0;
    std::fflush(stdout);
  }
}

}  // namespace host_sim
