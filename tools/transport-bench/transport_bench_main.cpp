// transport-bench: measures Quenlo.dll's transport against bare Win32
// baselines measured in the same run, and prints each figure with its ratio.
//
//   1  client-to-server messages (256 B: messages/s; 64 KiB: bytes/s)
//      against a bare overlapped pipe writer/reader pair writing the same
//      bytes (16-byte header, 4-byte blob length, payload);
//   2  round trip of a message echoed by the server's callback, against a
//      bare pipe ping-pong;
//   3  WritePacket of a 1920x1080 format-12 frame against a memcpy of its
//      8294400 bytes in the same process;
//   4  write-to-EVENT_PACKET latency of 900x180 frames at 10 and 60 fps
//      against a bare mapping + named semaphore writer/reader.
//
// By default the client side of every figure (the library's client, or the
// baseline's writer) runs in a child process started from this program, the
// way the panel program and the host are two processes; --same-process runs
// it on a thread instead. See kUsage.
//
// Threads: the main thread measures (the host side); a same-process client
// runs on one thread of ClientLauncher; the library adds its own threads.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "client_launcher.h"
#include "host_side.h"
#include "quenlo_api.h"

namespace transport_bench {
namespace {

const char kUsage[] =
    "Usage: transport-bench [options]\n"
    "\n"
    "Measures Quenlo.dll's message, round-trip and frame paths against bare\n"
    "named-pipe, memcpy and shared-memory baselines in the same run and prints\n"
    "one table of figures and ratios.\n"
    "\n"
    "Options:\n"
    "  --same-process   run the client side on a thread of this process\n"
    "                   (default: a child process, as panel and host are)\n"
    "  --quick          small counts, for a smoke run (figures are noisy)\n"
    "  --runs N         throughput runs per figure, the best reported (default 5)\n"
    "  --only LIST      comma-separated figures to run: 1,2,3,4 (default all)\n"
    "  --diagnose       figure 1 also against a bare pair that takes its\n"
    "                   completions from completion ports, as the library does\n"
    "  --library PATH   the DLL to load (default: Quenlo.dll beside the exe)\n"
    "  --print-log      copy the library's log lines to stderr\n"
    "  --help           this text\n"
    "\n"
    "Exit codes: 0 figures printed, 1 a measurement failed, 2 bad options,\n"
    "3 library or export missing.\n";

struct Options {
  bool same_process = false;
  bool quick = false;
  uint32_t runs = 5;
  bool figure[5] = {false, true, true, true, true};
  std::wstring library;
  bool print_log = false;
  bool diagnose = false;
};

// Counts of each measurement.
struct Plan {
  uint32_t small_payload = 256;
  uint32_t small_count = 20000;
  uint32_t large_payload = 65536;
  uint32_t large_count = 1000;
  uint32_t echo_warmup = 200;
  uint32_t echo_count = 3000;
  uint32_t frame_warmup = 5;
  uint32_t frame_count = 60;
  uint32_t slow_fps = 10;
  uint32_t slow_count = 150;
  uint32_t fast_fps = 60;
  uint32_t fast_count = 600;
  uint32_t paced_warmup = 10;
};

Plan MakePlan(bool quick) {
  Plan plan;
  if (quick) {
    plan.small_count = 2000;
    plan.large_count = 100;
    plan.echo_warmup = 50;
    plan.echo_count = 500;
    plan.frame_count = 20;
    plan.slow_count = 30;
    plan.fast_count = 120;
    plan.paced_warmup = 5;
  }
  return plan;
}

// 0 usable, 1 --help, 2 error (printed).
int ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--help") return 1;
    if (arg == L"--same-process") {
      options->same_process = true;
    } else if (arg == L"--quick") {
      options->quick = true;
      options->runs = 1;
    } else if (arg == L"--print-log") {
      options->print_log = true;
    } else if (arg == L"--diagnose") {
      options->diagnose = true;
    } else if (arg == L"--runs" && i + 1 < argc) {
      const long value = std::wcstol(argv[++i], nullptr, 10);
      if (value < 1 || value > 100) {
        std::fprintf(stderr, "transport-bench: --runs takes 1 to 100\n");
        return 2;
      }
      options->runs = static_cast<uint32_t>(value);
    } else if (arg == L"--only" && i + 1 < argc) {
      for (int f = 1; f <= 4; ++f) options->figure[f] = false;
      for (const wchar_t* at = argv[++i]; *at != L'\0'; ++at) {
        if (*at >= L'1' && *at <= L'4') {
          options->figure[*at - L'0'] = true;
        } else if (*at != L',') {
          std::fprintf(stderr, "transport-bench: --only takes figures 1 to 4\n");
          return 2;
        }
      }
    } else if (arg == L"--library" && i + 1 < argc) {
      options->library = argv[++i];
    } else {
      std::fprintf(stderr, "transport-bench: unknown option or missing value (see --help)\n");
      return 2;
    }
  }
  return 0;
}

// One row of the result table.
struct Row {
  std::string figure;
  std::string unit;
  double quenlo = 0.0;
  double baseline = 0.0;
  // Aim on the ratio quenlo / baseline: kNone, or at least / at most `aim`.
  enum Aim { kNone, kAtLeast, kAtMost } aim_kind = kNone;
  double aim = 0.0;
};

void PrintRow(const Row& row) {
  const double ratio = Ratio(row.quenlo, row.baseline);
  char aim[32] = "";
  const char* verdict = "";
  if (row.aim_kind != Row::kNone) {
    std::snprintf(aim, sizeof aim, "%s %.2f", row.aim_kind == Row::kAtLeast ? ">=" : "<=", row.aim);
    const bool met = row.aim_kind == Row::kAtLeast ? ratio >= row.aim : ratio <= row.aim;
    verdict = met ? "met" : "MISSED";
  }
  std::printf("%-52s %-7s %12.2f %12.2f %7.2f  %-8s %s\n", row.figure.c_str(), row.unit.c_str(),
              row.quenlo, row.baseline, ratio, aim, verdict);
}

void PrintEnvironment(const Options& options) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  using WineVersion = const char* (*)();
  const auto wine_version = reinterpret_cast<WineVersion>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  std::printf("transport-bench %04u-%02u-%02u %02u:%02u  processors=%lu  %s%s\n", now.wYear,
              now.wMonth, now.wDay, now.wHour, now.wMinute, info.dwNumberOfProcessors,
              wine_version != nullptr ? "wine " : "windows",
              wine_version != nullptr ? wine_version() : "");
  std::printf("client side: %s\n",
              options.same_process ? "a thread of this process (--same-process)"
                                   : "a child process (this program re-launched as the client)");
  std::printf("counts: %s; throughput runs per figure: %u (best reported)\n\n",
              options.quick ? "quick" : "full", options.runs);
  std::fflush(stdout);
}

bool Check(bool ok, const char* what, const std::string& error) {
  if (!ok) std::fprintf(stderr, "transport-bench: %s failed: %s\n", what, error.c_str());
  return ok;
}

double Micros(uint64_t ns) { return static_cast<double>(ns) / 1000.0; }
double Millis(uint64_t ns) { return static_cast<double>(ns) / 1e6; }

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The table and the notes under it; each Measure function adds its figure's
// rows and returns false when a measurement failed (after its message).
struct Table {
  std::vector<Row> rows;
  std::vector<std::string> notes;
};

double Best(const std::vector<double>& values) {
  return *std::max_element(values.begin(), values.end());
}

// Figure 1. Raw and library runs alternate, so that a change in the
// machine's load hits both alike. The best run of each is reported: on a
// shared machine it is the one least disturbed by others; the paired ratios
// of the runs are noted too.
bool MeasureThroughput(const Options& options, uint32_t payload, uint32_t count, HostSide* host,
                       Table* table) {
  const bool large = payload > 4096;
  const auto rate = [large](const StreamFigures& figures) {
    return large ? figures.payload_bytes_per_second / 1e6 : figures.messages_per_second;
  };
  std::vector<double> raw_rates;
  std::vector<double> port_rates;
  std::vector<double> quenlo_rates;
  std::vector<double> paired;
  std::vector<double> submit_shares;  // the library's runs: send calls / whole run
  std::string runs;
  bool ok = true;
  std::string error;
  for (uint32_t run = 0; run < options.runs; ++run) {
    StreamFigures raw;
    StreamFigures ports;
    StreamFigures quenlo;
    const bool raw_ok =
        Check(host->RawStream(payload, count, false, &raw, &error), "raw message stream", error);
    const bool ports_ok =
        !options.diagnose || Check(host->RawStream(payload, count, true, &ports, &error),
                                   "raw message stream with completion ports", error);
    const bool quenlo_ok =
        Check(host->QuenloStream(payload, count, &quenlo, &error), "message stream", error);
    ok = ok && raw_ok && ports_ok && quenlo_ok;
    if (!raw_ok || !ports_ok || !quenlo_ok) continue;
    raw_rates.push_back(rate(raw));
    quenlo_rates.push_back(rate(quenlo));
    paired.push_back(Ratio(rate(quenlo), rate(raw)));
    submit_shares.push_back(
        Ratio(static_cast<double>(quenlo.submit_ns), static_cast<double>(quenlo.elapsed_ns)));
    runs += Format(" %.0f/%.0f", rate(quenlo), rate(raw));
    if (options.diagnose) {
      port_rates.push_back(rate(ports));
      runs += Format("/%.0f", rate(ports));
    }
  }
  if (raw_rates.empty()) return ok;
  const std::string what =
      large ? "1 payload bytes/s, 64 KiB payload" : "1 messages/s, 256 B payload";
  Row row{what, large ? "MB/s" : "msg/s", Best(quenlo_rates), Best(raw_rates)};
  row.aim_kind = Row::kAtLeast;
  row.aim = large ? 0.7 : 0.5;
  table->rows.push_back(row);
  if (options.diagnose) {
    table->rows.push_back({what + ", port pair", row.unit, row.quenlo, Best(port_rates)});
  }
  table->notes.push_back(
      Format("figure 1, %u messages of %u B: median of the paired ratios %.2f; SendMessage calls "
             "take %.0f%% of a run; runs (Quenlo/baseline%s):",
             count, payload, Median(paired), 100.0 * Median(submit_shares),
             options.diagnose ? "/port pair" : "") +
      runs);
  return ok;
}

// Figure 2.
bool MeasureRoundTrip(const Plan& plan, HostSide* host, Table* table) {
  std::string error;
  EchoFigures raw;
  EchoFigures quenlo;
  const bool raw_ok =
      Check(host->RawEcho(plan.small_payload, plan.echo_warmup, plan.echo_count, &raw, &error),
            "raw ping-pong", error);
  const bool quenlo_ok = Check(
      host->QuenloEcho(plan.small_payload, plan.echo_warmup, plan.echo_count, &quenlo, &error),
      "echoed round trip", error);
  if (!raw_ok || !quenlo_ok) return false;
  table->rows.push_back(
      {"2 round trip p50, 256 B payload", "us", Micros(quenlo.p50_ns), Micros(raw.p50_ns)});
  table->rows.push_back(
      {"2 round trip p99, 256 B payload", "us", Micros(quenlo.p99_ns), Micros(raw.p99_ns)});
  table->notes.push_back(
      Format("figure 2, %llu round trips after %u unmeasured; mean %.1f us / %.1f us",
             static_cast<unsigned long long>(quenlo.count), plan.echo_warmup,
             Micros(quenlo.mean_ns), Micros(raw.mean_ns)));
  return true;
}

// Figure 3.
bool MeasureFrameWrite(const Plan& plan, HostSide* host, Table* table) {
  std::string error;
  FrameWriteFigures frames;
  if (!Check(host->FrameWrite(plan.frame_warmup, plan.frame_count, &frames, &error), "frame write",
             error)) {
    return false;
  }
  Row row{"3 WritePacket 1920x1080 vs memcpy, p50", "ms", Millis(frames.write.p50_ns),
          Millis(frames.copy.p50_ns)};
  row.aim_kind = Row::kAtMost;
  row.aim = 1.3;
  table->rows.push_back(row);
  table->rows.push_back({"3 WritePacket 1920x1080 vs memcpy, p99", "ms",
                         Millis(frames.write.p99_ns), Millis(frames.copy.p99_ns)});
  table->notes.push_back(Format(
      "figure 3, %llu calls after %u unmeasured, alternating with the memcpy; mean %.3f ms / "
      "%.3f ms; failed calls %lld",
      static_cast<unsigned long long>(frames.write.count), plan.frame_warmup,
      Millis(frames.write.mean_ns), Millis(frames.copy.mean_ns),
      static_cast<long long>(frames.failures)));
  return true;
}

// Figure 4, at one frame rate.
bool MeasureFrameLatency(const Plan& plan, uint32_t fps, uint32_t count, HostSide* host,
                         Table* table) {
  std::string error;
  FrameLatencyFigures raw;
  FrameLatencyFigures quenlo;
  const bool raw_ok = Check(host->RawFrames(fps, plan.paced_warmup, count, &raw, &error),
                            "raw paced frames", error);
  const bool quenlo_ok = Check(host->QuenloFrames(fps, plan.paced_warmup, count, &quenlo, &error),
                               "paced frames", error);
  if (!raw_ok || !quenlo_ok) return false;
  const std::string at = ", 900x180 @" + std::to_string(fps) + " fps";
  table->rows.push_back({"4 EVENT_PACKET latency p50" + at, "us", Micros(quenlo.latency.p50),
                         Micros(raw.latency.p50)});
  table->rows.push_back({"4 EVENT_PACKET latency p99" + at, "us", Micros(quenlo.latency.p99),
                         Micros(raw.latency.p99)});
  table->notes.push_back(
      Format("figure 4 @%u fps, delivered %u/%u (baseline %u/%u), stale re-reads %u; max %.1f us "
             "/ %.1f us",
             fps, quenlo.delivered, quenlo.sent, raw.delivered, raw.sent, quenlo.stale,
             Micros(quenlo.latency.max), Micros(raw.latency.max)));
  return true;
}

int Run(const Options& options) {
  const std::wstring library = options.library.empty() ? DefaultLibraryPath() : options.library;
  std::string error;
  const QuenloApi* api = LoadQuenlo(library, options.print_log, &error);
  if (api == nullptr) {
    std::fprintf(stderr, "transport-bench: %s\n", error.c_str());
    return 3;
  }
  PrintEnvironment(options);
  const Plan plan = MakePlan(options.quick);
  ClientLauncher launcher(options.same_process, library, options.print_log, api);
  HostSide host(api, &launcher);
  Table table;
  bool ok = true;
  if (options.figure[1]) {
    ok = MeasureThroughput(options, plan.small_payload, plan.small_count, &host, &table) && ok;
    ok = MeasureThroughput(options, plan.large_payload, plan.large_count, &host, &table) && ok;
  }
  if (options.figure[2]) ok = MeasureRoundTrip(plan, &host, &table) && ok;
  if (options.figure[3]) ok = MeasureFrameWrite(plan, &host, &table) && ok;
  if (options.figure[4]) {
    ok = MeasureFrameLatency(plan, plan.slow_fps, plan.slow_count, &host, &table) && ok;
    ok = MeasureFrameLatency(plan, plan.fast_fps, plan.fast_count, &host, &table) && ok;
  }

  std::printf("%-52s %-7s %12s %12s %7s  %-8s %s\n", "figure", "unit", "Quenlo", "baseline",
              "ratio", "aim", "");
  for (const Row& row : table.rows) PrintRow(row);
  std::printf("\n");
  for (const std::string& line : table.notes) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace transport_bench

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  int code = 0;
  if (argc > 1 && std::wcscmp(argv[1], L"--client") == 0) {
    code = transport_bench::RunChildClient(argc, argv);
  } else {
    transport_bench::Options options;
    const int parsed = transport_bench::ParseOptions(argc, argv, &options);
    if (parsed == 1) std::fputs(transport_bench::kUsage, stdout);
    code = parsed == 0 ? transport_bench::Run(options) : (parsed == 1 ? 0 : 2);
  }
  ::LocalFree(argv);
  std::fflush(stdout);
  // The library's threads may still be winding down; end without running
  // static destructors under them.
  ::ExitProcess(static_cast<UINT>(code));
}
