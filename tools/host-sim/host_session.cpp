#include "tools/host-sim/host_session.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "panel/live/live_event.h"
#include "tools/host-sim/core/expected_tally.h"
#include "tools/host-sim/core/host_texts.h"
#include "tools/host-sim/core/scenario.h"
#include "tools/host-sim/core/session_report.h"
#include "tools/host-sim/core/synthetic_audience.h"
#include "tools/host-sim/demo_driver.h"
#include "tools/host-sim/frame_capture.h"
#include "tools/host-sim/panel_process.h"
#include "tools/common/process_window.h"
#include "tools/host-sim/panel_window.h"
#include "tools/host-sim/png_writer.h"
#include "tools/host-sim/process_sampler.h"
#include "tools/host-sim/quenlo_server.h"
#include "tools/host-sim/wide_text.h"

namespace host_sim {
namespace {

// Message type of the texts host-sim sends; the panel does not look at it.
constexpr uint32_t kHostTextType = 1;
constexpr DWORD kPollMs = 20;
constexpr DWORD kCloseTimeoutMs = 15000;
constexpr DWORD kFirstFrameTimeoutMs = 5000;

using Clock = std::chrono::steady_clock;

// Set by the console's Ctrl+C; every wait ends early and the session winds
// down normally.
std::atomic<bool> g_interrupted{false};

BOOL WINAPI on_console_control(DWORD) {
  g_interrupted = true;
  return TRUE;
}

// Where --print-log copies the library's lines. Set once before the sink
// is installed; the sink has no context argument.
ConsoleOutput* g_log_out = nullptr;

int32_t copy_log_line(int32_t, const char*, int32_t, const char* text) {
  std::string line = text != nullptr ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (g_log_out != nullptr) g_log_out->error("quenlo: " + line);
  return 0;  // not handled: the line still goes to the log file, if one is open
}

std::wstring module_folder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring self(path, length);
  return self.substr(0, self.find_last_of(L"\\/") + 1);
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t unix_time_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// One run, start to summary. The main thread runs every step; the
// library's threads only enter through on_event.
class HostSession {
 public:
  HostSession(const HostSimOptions& options, ConsoleOutput& out)
      : options_(options), out_(out), capture_(options.sequence_every) {}

  int run();

 private:
  int prepare();
  int open_server_and_panel();
  bool wait_for_subscription();
  void feed();
  void close_panel();
  void finish_report();

  // Polls `done` every kPollMs, keeping the capture going, until it holds
  // (true) or `timeout_ms` passed or the user interrupted (false).
  bool wait_until(const std::function<bool()>& done, DWORD timeout_ms);
  // Writes overlay.png when the picture changed, the sequence frames, and
  // the status line.
  void pump();
  void save_overlay();
  // With --sample-every: one "sample" line when the next one is due.
  void sample();
  void problem(const std::string& text);

  static void on_event(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                       void* context);
  void on_message(uint32_t type, const char* data, uint32_t length);

  const HostSimOptions& options_;
  ConsoleOutput& out_;
  std::wstring out_dir_;  // ends in a backslash
  std::wstring tessaly_path_;
  std::wstring library_path_;
  std::wstring pipe_name_;
  std::vector<ScenarioStep> steps_;
  std::unique_ptr<ExpectedTally> tally_;  // demo only
  std::unordered_set<std::string> sent_ids_;

  QuenloLibrary library_;
  // Shared with the library's threads through the server callback:
  // capture_ (its own lock), the two link flags (atomics), subscriptions_
  // (subscriptions_lock_), out_ (its own lock) and server_ (answers to
  // subscribe requests). server_ comes after the others, so that its
  // release, which joins those threads, happens before they go away.
  FrameCapture capture_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> ever_connected_{false};
  std::mutex subscriptions_lock_;
  std::vector<std::string> subscriptions_;  // subscriptions_lock_
  ServerRef server_;

  // Main thread only.
  quenlo_tools::LaunchedProcess panel_;
  SessionReport report_;
  uint64_t written_hash_ = 0;
  bool overlay_written_ = false;
  uint64_t sequence_written_ = 0;
  Clock::time_point rate_since_ = Clock::now();
  uint64_t rate_frames_ = 0;
  double recent_fps_ = 0.0;
  Clock::time_point last_status_{};
  Clock::time_point started_ = Clock::now();
  int64_t next_sample_s_ = 0;
};

void HostSession::problem(const std::string& text) {
  out_.error("host-sim: " + text);
  report_.problems.push_back(text);
}

int HostSession::prepare() {
  const std::wstring here = module_folder();
  tessaly_path_ =
      options_.tessaly_path.empty() ? here + L"Tessaly.exe" : widen(options_.tessaly_path);
  library_path_ = here + L"Quenlo.dll";
  if (!is_file(tessaly_path_)) {
    out_.error("host-sim: Tessaly.exe not found at " + narrow(tessaly_path_) +
               " (give its path with --tessaly)");
    return kExitCannotStart;
  }
  if (!is_file(library_path_)) {
    out_.error("host-sim: Quenlo.dll not found at " + narrow(library_path_) +
               " (it must lie beside host-sim.exe)");
    return kExitCannotStart;
  }

  if (!options_.scenario_path.empty()) {
    std::ifstream in(std::filesystem::path(widen(options_.scenario_path)), std::ios::binary);
    if (!in) {
      out_.error("host-sim: cannot read the scenario " + options_.scenario_path);
      return kExitBadInput;
    }
    const std::string contents{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    std::string error;
    if (!parse_scenario(contents, options_.scenario_path, steps_, error)) {
      out_.error("host-sim: " + error);
      return kExitBadInput;
    }
  } else {
    AudienceOptions audience = options_.audience;
    audience.start_time_ms = unix_time_ms();
    steps_ = audience_steps(generate_audience(audience));
  }

  if (options_.demo) {
    std::vector<tessaly::InteractionChoice> choices;
    for (size_t i = 0; i < 2; ++i) {
      choices.push_back(
          tessaly::InteractionChoice{options_.audience.keywords[i], options_.labels[i], 0});
    }
    try {
      tally_ = std::make_unique<ExpectedTally>(options_.title, choices);
    } catch (const std::invalid_argument& e) {
      out_.error(std::string("host-sim: the demo's vote is not valid: ") + e.what());
      return kExitBadInput;
    }
  }

  out_dir_ = widen(options_.out_dir.empty() ? "." : options_.out_dir);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(out_dir_), ignored);
  if (!std::filesystem::is_directory(std::filesystem::path(out_dir_), ignored)) {
    out_.error("host-sim: cannot create the output folder " + narrow(out_dir_));
    return kExitCannotStart;
  }
  if (out_dir_.back() != L'\\' && out_dir_.back() != L'/') out_dir_ += L'\\';

  pipe_name_ = options_.pipe_name.empty()
                   ? L"host-sim-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                         std::to_wstring(::GetTickCount64())
                   : widen(options_.pipe_name);
  report_.demo = options_.demo;
  report_.pipe_name = narrow(pipe_name_);
  report_.texts_planned = steps_.size();
  return kExitOk;
}

int HostSession::open_server_and_panel() {
  std::string error;
  if (!library_.load(library_path_, error)) {
    out_.error("host-sim: " + error);
    return kExitCannotStart;
  }
  if (options_.print_log) {
    g_log_out = &out_;
    library_.set_log_callback(&copy_log_line);
  }
  if (!server_.create(library_)) {
    out_.error("host-sim: CreatePipeServer failed");
    return kExitCannotStart;
  }
  std::string log_file = options_.log_file;
  if (log_file.empty() && options_.demo) log_file = narrow(out_dir_) + "quenlo.log";
  if (!log_file.empty()) {
    if (server_->OpenLogFile(widen(log_file).c_str())) {
      out_.line("library log: " + log_file);
    } else {
      problem("the library could not open its log file " + log_file);
    }
  }
  server_->SetCallback(&HostSession::on_event, this);
  server_->Open(pipe_name_.c_str(), options_.channels);
  out_.line("serving \\\\.\\pipe\\ipc." + report_.pipe_name + " with " +
            std::to_string(options_.channels) + " channel(s)");

  const auto arguments = panel_arguments(pipe_name_, options_.channels,
                                         widen(options_.halvory_version), options_.layout_mode);
  if (!start_panel(panel_, tessaly_path_, arguments, error)) {
    out_.error("host-sim: " + error);
    return kExitCannotStart;
  }
  out_.line("started " + narrow(tessaly_path_) + " (process " + std::to_string(panel_.Id()) + ")");
  started_ = Clock::now();
  return kExitOk;
}

bool HostSession::wait_for_subscription() {
  auto subscribed = [this] {
    std::lock_guard<std::mutex> hold(subscriptions_lock_);
    for (const std::string& name : subscriptions_) {
      if (name == "OPEN_LIVE_DATA") return true;
    }
    return false;
  };
  // A panel that cannot start shows an error box and waits for a click:
  // report it at once instead of waiting out the time-out.
  bool box_seen = false;
  std::string box_text;
  auto error_box = [&] {
    const HWND box =
        quenlo_tools::FindProcessWindow(panel_.Id(), quenlo_tools::kMessageBoxClass, true);
    if (box == nullptr) return false;
    box_text = PanelWindow(box).text(0xFFFF);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return box_seen = true;
  };
  wait_until([&] { return subscribed() || !panel_.Running() || error_box(); },
             options_.connect_timeout_ms);
  if (subscribed()) return true;
  if (box_seen) {
    problem("Tessaly.exe showed the message \"" + box_text + "\"");
    panel_exit_code(panel_, kCloseTimeoutMs);
  } else if (!panel_.Running()) {
    problem("Tessaly.exe ended during start-up with code " +
            std::to_string(panel_exit_code(panel_, 0)));
  } else if (!g_interrupted) {
    problem("the panel did not " +
            std::string(ever_connected_ ? "subscribe to OPEN_LIVE_DATA" : "connect") + " within " +
            std::to_string(options_.connect_timeout_ms) + " ms");
  }
  return false;
}

void HostSession::feed() {
  const Clock::time_point start = Clock::now();
  int64_t due = 0;
  for (size_t index = 0; index < steps_.size(); ++index) {
    const ScenarioStep& step = steps_[index];
    due += step.delay_ms;
    wait_until([&] { return ms_since(start) >= due || !panel_.Running(); }, INFINITE);
    if (g_interrupted) {
      problem("interrupted after " + std::to_string(report_.texts_sent) + " texts");
      return;
    }
    if (!panel_.Running()) {
      problem("Tessaly.exe ended before the scenario was done");
      return;
    }
    if (!server_->SendMessage(kHostTextType, step.text.data(),
                              static_cast<uint32_t>(step.text.size()))) {
      out_.error("host-sim: sending text " + std::to_string(index + 1) + " failed");
      continue;
    }
    ++report_.texts_sent;
    tessaly::ParsedLiveEvent event;
    std::string ignored;
    if (tessaly::parse_live_event(step.text, event, ignored)) {
      for (const tessaly::LiveComment& comment : event.comments) {
        ++report_.comments_sent;
        if (!sent_ids_.insert(comment.msg_id).second) ++report_.duplicates_sent;
      }
    }
    if (tally_) tally_->feed(step.text);
    sample();  // also when the feed runs behind and never waits
  }
}

void HostSession::close_panel() {
  int64_t code = panel_exit_code(panel_, 0);
  if (code == -1 && connected_) {
    const std::string notice = notice_text("OPEN_WIN_CLOSE");
    server_->SendMessage(kHostTextType, notice.data(), static_cast<uint32_t>(notice.size()));
    out_.line("asked the panel to close (OPEN_WIN_CLOSE)");
    code = panel_exit_code(panel_, kCloseTimeoutMs);
  }
  if (code == -1) {
    panel_.Terminate(99, 5000);
    out_.error("host-sim: Tessaly.exe was still running and was ended");
  } else {
    out_.line("Tessaly.exe ended with code " + std::to_string(code));
  }
  report_.panel_exit_code = code;
}

bool HostSession::wait_until(const std::function<bool()>& done, DWORD timeout_ms) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    if (done()) return true;
    if (g_interrupted || (timeout_ms != INFINITE && ms_since(start) >= timeout_ms)) return false;
    pump();
    ::Sleep(kPollMs);
  }
}

void HostSession::save_overlay() {
  Frame frame;
  if (!capture_.latest(frame) || (overlay_written_ && frame.hash == written_hash_)) return;
  std::string error;
  if (!write_png(out_dir_ + L"overlay.png", frame.pixels.data(), kOverlayWidth, kOverlayHeight,
                 kOverlayStride, error)) {
    problem(error);
    return;
  }
  ++report_.pngs_written;
  overlay_written_ = true;
  written_hash_ = frame.hash;
}

void HostSession::sample() {
  if (options_.sample_every_s == 0 || panel_.Handle() == nullptr) return;
  const int64_t elapsed_s = ms_since(started_) / 1000;
  if (elapsed_s < next_sample_s_) return;
  next_sample_s_ = elapsed_s - elapsed_s % options_.sample_every_s + options_.sample_every_s;
  const ProcessSample s = sample_process(panel_.Handle(), panel_.Id());
  out_.line(
      "sample t=" + std::to_string(elapsed_s) + "s working_set_kb=" +
      (s.memory_known ? std::to_string(s.working_set_bytes / 1024) : "unavailable") +
      " private_kb=" + (s.memory_known ? std::to_string(s.private_bytes / 1024) : "unavailable") +
      " handles=" +
      (s.handle_source.empty() ? std::string("unavailable")
                               : std::to_string(s.handles) + " (" + s.handle_source + ")") +
      " comments_sent=" + std::to_string(report_.comments_sent) +
      " frames=" + std::to_string(capture_.frames()));
}

void HostSession::pump() {
  save_overlay();
  sample();
  for (const Frame& frame : capture_.take_sequence()) {
    const std::wstring folder = out_dir_ + L"frames\\";
    if (sequence_written_++ == 0) ::CreateDirectoryW(folder.c_str(), nullptr);
    wchar_t name[32];
    std::swprintf(name, 32, L"frame-%06llu.png", static_cast<unsigned long long>(frame.number));
    std::string error;
    if (write_png(folder + name, frame.pixels.data(), kOverlayWidth, kOverlayHeight, kOverlayStride,
                  error)) {
      ++report_.pngs_written;
    } else {
      problem(error);
    }
  }

  const Clock::time_point now = Clock::now();
  if (now - rate_since_ >= std::chrono::seconds(1)) {
    const uint64_t frames = capture_.frames();
    recent_fps_ =
        (frames - rate_frames_) / std::chrono::duration<double>(now - rate_since_).count();
    rate_frames_ = frames;
    rate_since_ = now;
  }
  if (now - last_status_ >= std::chrono::milliseconds(250)) {
    last_status_ = now;
    const int64_t age = capture_.last_frame_age_ms();
    out_.status("link " + std::string(connected_ ? "up" : "down") + " | texts " +
                std::to_string(report_.texts_sent) + "/" + std::to_string(report_.texts_planned) +
                " | comments " + std::to_string(report_.comments_sent) + " | frames " +
                std::to_string(capture_.frames()) + " | " + fixed1(recent_fps_) +
                " fps | last frame " +
                (age < 0 ? std::string("none") : std::to_string(age) + " ms ago"));
  }
}

void HostSession::on_event(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                           void* context) {
  auto* self = static_cast<HostSession*>(context);
  switch (event) {
    case EVENT_CONNECTED:
      self->connected_ = true;
      self->ever_connected_ = true;
      self->out_.line("link: connected");
      break;
    case EVENT_BROKEN:
    case EVENT_CONNECTION_RESET:
      self->connected_ = false;
      self->out_.line("link: broken");
      break;
    case EVENT_DISCONNECTED:
      self->connected_ = false;
      self->out_.line("link: disconnected");
      break;
    case EVENT_MESSAGE:
      self->on_message(type, data, length);
      break;
    case EVENT_PACKET:
      self->capture_.on_packet(data, length);
      break;
  }
}

// The library's reader thread. The only texts a panel sends are its
// subscribe requests; each gets host-sim's acknowledgement.
void HostSession::on_message(uint32_t type, const char* data, uint32_t length) {
  const std::string text(data != nullptr ? data : "", data != nullptr ? length : 0);
  SubscribeRequest request;
  if (!read_subscribe_request(text, request)) {
    out_.line("message type=" + std::to_string(type) + ": " + text);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(subscriptions_lock_);
    subscriptions_.push_back(request.event_name);
  }
  const std::string answer = subscribe_answer(request);
  const bool answered =
      server_->SendMessage(kHostTextType, answer.data(), static_cast<uint32_t>(answer.size())) != 0;
  out_.line("subscribe " + request.event_name + " reqId=" + request.request_id +
            (answered ? " (answered)" : " (answer failed)"));
}

void HostSession::finish_report() {
  report_.connected = ever_connected_;
  {
    std::lock_guard<std::mutex> hold(subscriptions_lock_);
    report_.subscriptions = subscriptions_;
  }
  report_.frames = capture_.frames();
  report_.bad_packets = capture_.bad_packets();
  report_.frames_per_second = capture_.frames_per_second();
  report_.overlay_saved = overlay_written_;
  if (options_.demo) {
    if (overlay_written_) report_.files.push_back("overlay.png");
    const std::wstring log =
        options_.log_file.empty() ? out_dir_ + L"quenlo.log" : widen(options_.log_file);
    if (is_file(log)) {
      report_.files.push_back(narrow(log.substr(log.find_last_of(L"\\/") + 1)));
    } else {
      problem("the library's log file " + narrow(log) + " was not written");
    }
  }
}

int HostSession::run() {
  int code = prepare();
  if (code != kExitOk) return code;
  code = open_server_and_panel();
  if (code != kExitOk) {
    panel_.Terminate(99, 5000);
    return code;
  }

  if (wait_for_subscription()) {
    std::unique_ptr<DemoDriver> demo;
    if (options_.demo) {
      demo = std::make_unique<DemoDriver>(
          panel_.Id(), capture_, out_, out_dir_,
          [this](const std::function<bool()>& done, DWORD timeout) {
            return wait_until(done, timeout);
          },
          report_);
      demo->start_vote(options_.title, tally_->choices());
    }
    out_.line("sending " + std::to_string(steps_.size()) + " texts");
    feed();
    out_.line("sent " + std::to_string(report_.texts_sent) + " texts with " +
              std::to_string(report_.comments_sent) + " comments (" +
              std::to_string(report_.duplicates_sent) + " repeated)");
    if (demo) {
      demo->finish(tally_->choices());
    } else {
      wait_until([] { return false; }, options_.linger_ms);
    }
    if (capture_.frames() == 0) {
      wait_until([this] { return capture_.frames() != 0; }, kFirstFrameTimeoutMs);
    }
  }

  close_panel();
  pump();
  out_.end_status();
  server_.reset();
  if (options_.print_log) {
    library_.set_log_callback(nullptr);  // the sink's console goes away with main
    g_log_out = nullptr;
  }
  finish_report();

  const std::vector<std::string> failures = judge(report_);
  const std::string summary = format_summary(report_, failures);
  std::fwrite(summary.data(), 1, summary.size(), stdout);
  std::fflush(stdout);
  return failures.empty() ? kExitOk : kExitFellShort;
}

}  // namespace

int run_session(const HostSimOptions& options, ConsoleOutput& out) {
  ::SetConsoleCtrlHandler(&on_console_control, TRUE);
  HostSession session(options, out);
  return session.run();
}

}  // namespace host_sim
