#include "responsiveness_probe.h"

namespace panel_host {

ResponsivenessProbe::ResponsivenessProbe(HWND window, std::chrono::milliseconds period,
                                         std::chrono::milliseconds give_up)
    : window_(window), period_(period), give_up_(give_up), thread_([this] { run(); }) {}

ResponsivenessProbe::~ResponsivenessProbe() { stop(); }

const std::vector<double>& ResponsivenessProbe::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  return round_trips_us_;
}

void ResponsivenessProbe::run() {
  while (!stopping_) {
    const auto begin = std::chrono::steady_clock::now();
    DWORD_PTR result = 0;
    const bool answered = ::SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL,
                                                static_cast<UINT>(give_up_.count()), &result) != 0;
    const auto took = answered ? std::chrono::steady_clock::now() - begin
                               : std::chrono::steady_clock::duration(give_up_);
    round_trips_us_.push_back(std::chrono::duration<double, std::micro>(took).count());
    if (!answered && !::IsWindow(window_)) return;
    std::this_thread::sleep_for(period_);
  }
}

}  // namespace panel_host
