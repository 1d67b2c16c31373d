// panel-bench: performance figures of the real Tessaly.exe, run against a
// host built on the real Quenlo.dll's pipe server and fed a synthetic comment
// stream (comment_stream.h). Run by scripts/bench-panel; prints its figures
// as Markdown tables on stdout. Exit codes: 0 all scenarios ran and the panel
// ended with 0 when the host closed; 3 no server; 4 the panel did not start,
// link up or start its vote; 5 the panel's exit code was not 0.
//
// Scenarios, in this order, on one panel process with its default vote
// started:
//   idle     frames flowing, no comments: CPU, frame rate, memory, WM_NULL
//   latency  one vote at a time, from the host's SendMessage to the result
//            line showing it (polled every millisecond)
//   rates    paced bursts at rising rates, then one unpaced: comments lost,
//            largest backlog (sent minus shown), time to drain, CPU, and the
//            UI thread's WM_NULL round trips during the burst
//   stall    the panel's UI thread suspended while a burst arrives, so that
//            every comment waits in its posted-message queue; then resumed:
//            how many survive, and how fast the UI thread alone drains them
//
// Threads: the main thread runs the scenarios and sends; the library's
// threads count the host's events (atomics); a sampler thread reads the
// shown votes during bursts; the probe thread sends WM_NULL.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comment_stream.h"
#include "panel_under_test.h"
#include "quenlo_host.h"
#include "responsiveness_probe.h"

using namespace panel_host;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kPostedQueueLimit = 10000;  // Windows, per thread

double ms_since(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t index =
      std::min(values.size() - 1, static_cast<std::size_t>(p / 100.0 * double(values.size())));
  return values[index];
}

double cpu_percent(std::uint64_t cpu_delta_100ns, double wall_ms) {
  return wall_ms <= 0 ? 0 : double(cpu_delta_100ns) / 1e4 / wall_ms * 100.0;
}

double mib(std::size_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

// What the host's callback counts; library threads.
struct HostCounters {
  std::atomic<std::uint64_t> messages{0};
  std::atomic<std::uint64_t> packets{0};
};

// The shown total once it reached its target or stopped changing, and when
// it last changed.
struct Settled {
  std::int64_t total;
  Clock::time_point changed;
};

// Waits until the shown total reaches `target` or stops changing for `quiet`.
Settled wait_for_total(const PanelUnderTest& panel, std::int64_t target,
                       std::chrono::milliseconds quiet) {
  Settled s{panel.shown_total(), Clock::now()};
  while (s.total < target && Clock::now() - s.changed < quiet) {
    std::this_thread::sleep_for(5ms);
    const std::int64_t now = panel.shown_total();
    if (now >= 0 && now != s.total) {
      s.total = now;
      s.changed = Clock::now();
    }
  }
  return s;
}

double ms_between(Clock::time_point begin, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - begin).count();
}

struct BurstResult {
  std::string label;
  std::uint64_t sent = 0;
  std::uint64_t votes = 0;
  double send_s = 0;
  std::int64_t counted = 0;
  std::uint64_t max_backlog = 0;
  double drain_ms = 0;  // from the last send to the last vote shown
  double cpu = 0;       // % of one core, over sending and draining
  double probe_p99_ms = 0;
  double probe_max_ms = 0;
};

BurstResult run_burst(QuenloHost& host, const PanelUnderTest& panel, CommentStream& stream,
                      const std::string& label, double rate, std::uint64_t count) {
  BurstResult r;
  r.label = label;
  const std::int64_t base = panel.shown_total();
  std::atomic<std::uint64_t> sent{0}, votes{0};
  std::atomic<bool> sampling{true};
  std::atomic<std::uint64_t> max_backlog{0};
  // Backlog: votes sent but not yet shown. The result lines are refreshed
  // every 100 ms, so a sample is up to one tick behind.
  std::thread sampler([&] {
    while (sampling) {
      const std::uint64_t before = votes.load();
      const std::int64_t shown = panel.shown_total();
      if (shown >= 0 && before > std::uint64_t(shown - base)) {
        const std::uint64_t backlog = before - std::uint64_t(shown - base);
        if (backlog > max_backlog) max_backlog = backlog;
      }
      std::this_thread::sleep_for(50ms);
    }
  });
  ResponsivenessProbe probe(panel.window(), 10ms);
  const std::uint64_t cpu0 = panel.cpu_time();
  const auto begin = Clock::now();
  r.send_s = stream.send(host, count, rate, sent, votes);
  const auto sent_at = Clock::now();
  const std::int64_t target = base + std::int64_t(votes.load());
  const Settled settled = wait_for_total(panel, target, 3s);
  r.drain_ms = std::max(0.0, ms_between(sent_at, settled.changed));
  r.cpu = cpu_percent(panel.cpu_time() - cpu0, ms_between(begin, settled.changed));
  sampling = false;
  sampler.join();
  const std::vector<double>& trips = probe.stop();
  r.probe_p99_ms = percentile(trips, 99) / 1000.0;
  r.probe_max_ms = percentile(trips, 100) / 1000.0;
  r.sent = sent;
  r.votes = votes;
  r.counted = settled.total - base;
  r.max_backlog = max_backlog;
  return r;
}

// User plus kernel time of this process so far, in 100 ns units.
std::uint64_t own_cpu_time() {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

// The panel's UI thread, for suspending it.
struct UiThread {
  explicit UiThread(HWND window)
      : handle(::OpenThread(THREAD_SUSPEND_RESUME, FALSE,
                            ::GetWindowThreadProcessId(window, nullptr))) {}
  ~UiThread() {
    if (handle != nullptr) ::CloseHandle(handle);
  }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;
  HANDLE handle;
};

struct StallResult {
  std::uint64_t sent = 0;
  std::uint64_t votes = 0;
  std::int64_t counted = 0;
  double reader_ms = 0;  // until both processes went quiet: all comments posted
  double drain_ms = 0;   // the UI thread alone, after resuming
};

// Sends `count` comments while the UI thread is suspended, waits until they
// all lie in its posted-message queue (both processes idle), resumes the UI
// thread and times how long it takes to show them.
StallResult run_stall(QuenloHost& host, const PanelUnderTest& panel, CommentStream& stream,
                      std::uint64_t count) {
  StallResult r;
  const std::int64_t base = panel.shown_total();
  UiThread ui(panel.window());
  if (ui.handle == nullptr || ::SuspendThread(ui.handle) == DWORD(-1)) return r;
  std::atomic<std::uint64_t> sent{0}, votes{0};
  const auto begin = Clock::now();
  stream.send(host, count, 0, sent, votes);
  // Delivered once both ends went quiet: less than 10 ms of CPU in 200 ms
  // in the panel (its frame thread alone uses about 2 ms) and in this
  // process (the server's writer and readers). Reading keeps a core busy.
  auto both_cpu = [&] { return panel.cpu_time() + own_cpu_time(); };
  std::uint64_t last = both_cpu();
  auto quiet_since = Clock::now();
  for (;;) {
    std::this_thread::sleep_for(200ms);
    const std::uint64_t now = both_cpu();
    if (now - last < 100000) break;
    last = now;
    quiet_since = Clock::now();
    if (ms_since(begin) > 120000) break;
  }
  r.reader_ms = std::chrono::duration<double, std::milli>(quiet_since - begin).count();
  const auto resumed = Clock::now();
  ::ResumeThread(ui.handle);
  r.sent = sent;
  r.votes = votes;
  const Settled settled = wait_for_total(panel, base + std::int64_t(r.votes), 3s);
  r.drain_ms = ms_between(resumed, settled.changed);
  r.counted = settled.total - base;
  return r;
}

struct IdleResult {
  double fps = 0;
  double cpu = 0;
  double probe_p99_ms = 0;
  double probe_max_ms = 0;
};

// Frames flowing, no comments.
IdleResult run_idle(const PanelUnderTest& panel, const HostCounters& counters,
                    std::chrono::seconds length) {
  IdleResult r;
  ResponsivenessProbe probe(panel.window(), 10ms);
  const std::uint64_t cpu0 = panel.cpu_time();
  const std::uint64_t packets0 = counters.packets;
  const auto begin = Clock::now();
  std::this_thread::sleep_for(length);
  const double wall = ms_since(begin);
  r.cpu = cpu_percent(panel.cpu_time() - cpu0, wall);
  r.fps = double(counters.packets - packets0) * 1000.0 / wall;
  const std::vector<double>& trips = probe.stop();
  r.probe_p99_ms = percentile(trips, 99) / 1000.0;
  r.probe_max_ms = percentile(trips, 100) / 1000.0;
  return r;
}

// One vote at a time: from the host's SendMessage until result line 109
// shows it, polled every millisecond. The pauses between samples are random
// so that the samples spread over the phase of the 100 ms refresh tick.
std::vector<double> run_latency(QuenloHost& host, const PanelUnderTest& panel,
                                CommentStream& stream, int samples) {
  std::vector<double> latencies;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause_ms(0, 100);
  for (int i = 0; i < samples; ++i) {
    const std::int64_t before = panel.shown_votes(109);
    const auto begin = Clock::now();
    if (!host.send(1, stream.next_vote())) break;
    while (panel.shown_votes(109) <= before && ms_since(begin) < 5000) ::Sleep(1);
    latencies.push_back(ms_since(begin));
    ::Sleep(static_cast<DWORD>(pause_ms(random)));
  }
  return latencies;
}

struct Figures {
  IdleResult idle;
  std::vector<double> latencies;
  std::vector<BurstResult> bursts;
  StallResult stall;
  PanelUnderTest::Memory idle_memory, burst_memory, end_memory;
};

void print_report(const Figures& f) {
  std::printf("## Tessaly panel figures\n\n");
  std::printf("| Figure | Value |\n|---|---|\n");
  std::printf("| Frames received by the host, idle | %.1f per s |\n", f.idle.fps);
  std::printf("| CPU, idle with frames flowing | %.2f %% of one core |\n", f.idle.cpu);
  std::printf("| WM_NULL round trip, idle: p99 / max | %.2f / %.2f ms |\n", f.idle.probe_p99_ms,
              f.idle.probe_max_ms);
  std::printf(
      "| Latency SendMessage -> count shown (%zu samples): p50 / p99 / max "
      "| %.1f / %.1f / %.1f ms |\n",
      f.latencies.size(), percentile(f.latencies, 50), percentile(f.latencies, 99),
      percentile(f.latencies, 100));
  std::printf("| Working set idle / after bursts / peak | %.1f / %.1f / %.1f MiB |\n",
              mib(f.idle_memory.working_set), mib(f.burst_memory.working_set),
              mib(f.end_memory.peak_working_set));
  if (f.end_memory.private_bytes != 0) {  // Wine reports 0 for another process
    std::printf("| Private bytes idle / end | %.1f / %.1f MiB |\n",
                mib(f.idle_memory.private_bytes), mib(f.end_memory.private_bytes));
  }

  std::printf("\n## Comment bursts (4 of 5 comments are votes; loss counted on votes)\n\n");
  std::printf(
      "| Target rate | Sent | Send rate | End-to-end rate | Votes lost | Max backlog "
      "| Drain after last send | CPU | WM_NULL p99 / max |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (const BurstResult& b : f.bursts) {
    const double whole_s = b.send_s + b.drain_ms / 1000.0;
    std::printf(
        "| %s | %llu | %.0f/s | %.0f/s | %lld of %llu | %llu | %.0f ms | %.1f %% "
        "| %.1f / %.1f ms |\n",
        b.label.c_str(), static_cast<unsigned long long>(b.sent),
        b.send_s > 0 ? double(b.sent) / b.send_s : 0.0,
        whole_s > 0 ? double(b.sent) / whole_s : 0.0,
        static_cast<long long>(std::int64_t(b.votes) - b.counted),
        static_cast<unsigned long long>(b.votes), static_cast<unsigned long long>(b.max_backlog),
        b.drain_ms, b.cpu, b.probe_p99_ms, b.probe_max_ms);
  }

  const StallResult& st = f.stall;
  std::printf("\n## UI thread stalled during a burst\n\n");
  std::printf(
      "| Comments sent | Votes sent | Votes shown after resume | Delivery into the queue "
      "| UI drain after resume | UI drain rate |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::printf("| %llu | %llu | %lld | %.0f ms | %.0f ms | %.0f comments/s |\n",
              static_cast<unsigned long long>(st.sent), static_cast<unsigned long long>(st.votes),
              static_cast<long long>(st.counted), st.reader_ms, st.drain_ms,
              st.drain_ms > 0 ? double(st.sent) * 1000.0 / st.drain_ms : 0.0);
  std::printf(
      "\nOn Windows a thread's posted-message queue holds %llu messages: comments that\n"
      "arrive while that queue is full are lost.\n",
      static_cast<unsigned long long>(kPostedQueueLimit));
}

int run(bool quick) {
  const std::wstring folder = program_folder();
  const std::wstring pipe = L"panel-bench-" + std::to_wstring(::GetCurrentProcessId());
  HostCounters counters;
  QuenloHost host([&](IPC_EVENT_TYPE event, std::uint32_t, const char*, std::uint32_t) {
    if (event == EVENT_MESSAGE) ++counters.messages;
    if (event == EVENT_PACKET) ++counters.packets;
  });
  if (!host.open(folder + L"Quenlo.dll", pipe, 1)) {
    std::fprintf(stderr, "panel-bench: cannot open a server through %ls\n",
                 (folder + L"Quenlo.dll").c_str());
    return 3;
  }
  PanelUnderTest panel(folder + L"Tessaly.exe", pipe);
  if (!panel.started() || !panel.find_window(30s)) {
    std::fprintf(stderr, "panel-bench: Tessaly.exe did not start\n");
    return 4;
  }
  // Linked once the three subscribe requests arrived.
  const auto link_deadline = Clock::now() + 30s;
  while (counters.messages < 3 && Clock::now() < link_deadline) std::this_thread::sleep_for(10ms);
  panel.click(106);  // start the default vote (tokens 1 and 2)
  const auto start_deadline = Clock::now() + 10s;
  while (!panel.enabled(107) && Clock::now() < start_deadline) std::this_thread::sleep_for(10ms);
  if (counters.messages < 3 || !panel.enabled(107)) {
    std::fprintf(stderr, "panel-bench: the panel did not link up or start its vote\n");
    return 4;
  }

  CommentStream stream;
  Figures f;
  std::this_thread::sleep_for(1s);
  f.idle = run_idle(panel, counters, quick ? 2s : 5s);
  f.idle_memory = panel.memory();
  f.latencies = run_latency(host, panel, stream, quick ? 30 : 200);

  struct Step {
    const char* label;
    double rate;  // 0: unpaced
    std::uint64_t count;
  };
  const Step steps[] = {{"1000/s", 1000, 5000},  {"2000/s", 2000, 6000},    {"4000/s", 4000, 12000},
                        {"8000/s", 8000, 24000}, {"16000/s", 16000, 48000}, {"unpaced", 0, 20000}};
  for (const Step& step : steps) {
    const std::uint64_t count = quick ? step.count / 4 : step.count;
    f.bursts.push_back(run_burst(host, panel, stream, step.label, step.rate, count));
    std::this_thread::sleep_for(500ms);
  }
  f.burst_memory = panel.memory();
  f.stall = run_stall(host, panel, stream, quick ? 5000 : 15000);
  f.end_memory = panel.memory();
  print_report(f);

  host.close();
  const DWORD code = panel.wait_exit(15s);
  std::printf("\nPanel exit code after the host closed: %lu\n", static_cast<unsigned long>(code));
  return code == 0 ? 0 : 5;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  return run(quick);
}
