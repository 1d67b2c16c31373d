#pragma once

// Measures how quickly a window's thread answers while it is under load: a
// thread of its own sends WM_NULL with SendMessageTimeoutW every few
// milliseconds and records each round trip. A sent message is handled before
// any posted one, so a round trip is the time until the UI thread next looks
// at its queue, that is the longest single piece of work in its way.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace panel_host {

class ResponsivenessProbe {
 public:
  // Starts probing `window` every `period`; a round trip is given up after
  // `give_up` and then counts as that long.
  ResponsivenessProbe(HWND window, std::chrono::milliseconds period,
                      std::chrono::milliseconds give_up = std::chrono::seconds(10));
  ~ResponsivenessProbe();  // stop()
  ResponsivenessProbe(const ResponsivenessProbe&) = delete;
  ResponsivenessProbe& operator=(const ResponsivenessProbe&) = delete;

  // Stops and joins the probing thread; the round trips in microseconds.
  // Owner's thread; only the first call stops, later calls return the same.
  const std::vector<double>& stop();

 private:
  void run();

  const HWND window_;
  const std::chrono::milliseconds period_;
  const std::chrono::milliseconds give_up_;
  std::atomic<bool> stopping_{false};
  std::vector<double> round_trips_us_;  // probing thread until joined, then owner
  std::thread thread_;
};

}  // namespace panel_host
