// test-host: a stand-in for the streaming host in end-to-end tests.
//
// Loads Quenlo.dll, creates a pipe server through export ordinal 2, opens it
// under a pipe name and prints every event it receives as one line on
// stdout (see event_line.h); optionally sends messages, one per input line,
// to the connected client. See kUsage for the options.
//
// Threads: the main thread parses options, runs the server's lifetime and
// waits for the end; the library's threads call OnEvent (several at once);
// the sender thread reads the input and sends. g_out_lock keeps stdout
// lines whole; g_server_lock guards g_server, which the sender uses and the
// main thread releases.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "Quenlo/Quenlo.h"
#include "event_line.h"
#include "tools/common/quenlo_exports.h"

namespace {

const char kUsage[] =
    "Usage: test-host --pipe NAME [options]\n"
    "\n"
    "Opens a Quenlo pipe server (Quenlo.dll, export ordinal 2) under NAME and\n"
    "prints each event it receives as one line on stdout:\n"
    "  listening pipe=NAME channels=N      once, after Open\n"
    "  connected | broken | disconnected | reset\n"
    "  message type=T length=N text=...    printable UTF-8 payloads\n"
    "  message type=T length=N hex=hh ...  any other payload\n"
    "  packet kind=video channel=C width=W height=H format=F flip=0|1 stride=S\n"
    "         timestamp=NS bytes=N checksum=XXXXXXXX\n"
    "  packet kind=audio channel=C info=I timestamp=NS bytes=N checksum=XXXXXXXX\n"
    "  sent type=T length=N result=0|1     after each message it sent\n"
    "  exit                                last line\n"
    "The checksum is FNV-1a (32 bits) of the payload as stored in the ring slot.\n"
    "\n"
    "Options:\n"
    "  --pipe NAME          pipe name (\\\\.\\pipe\\ipc.NAME); required\n"
    "  --channels N         media channels (default 1)\n"
    "  --send FILE          send each non-empty line of FILE (UTF-8, one JSON\n"
    "                       text per line) as one message; FILE '-' is stdin.\n"
    "                       Each line waits until a client is connected.\n"
    "  --type T             message type of sent lines (default 1)\n"
    "  --interval-ms N      pause between sent lines (default 0)\n"
    "  --duration-ms N      end after N ms (default: run until Ctrl+C)\n"
    "  --exit-on-disconnect end when the first client's link breaks\n"
    "  --log-file PATH      library log file (PATH 'default': beside the exe)\n"
    "  --print-log          copy the library's log lines to stderr\n"
    "  --library PATH       the DLL to load (default: Quenlo.dll beside the exe)\n"
    "  --help               this text\n"
    "\n"
    "Exit codes: 0 done, 2 bad options, 3 library or export missing,\n"
    "4 no server, 5 send file unreadable.\n";

struct Options {
  std::wstring pipe;
  uint32_t channels = 1;
  std::wstring send;
  uint32_t type = 1;
  DWORD interval_ms = 0;
  DWORD duration_ms = INFINITE;
  bool exit_on_disconnect = false;
  bool has_log_file = false;
  std::wstring log_file;
  bool print_log = false;
  std::wstring library;
};

std::mutex g_out_lock;
std::mutex g_server_lock;
Quenlo::IPipeServer* g_server = nullptr;  // g_server_lock
std::atomic<bool> g_connected{false};
std::atomic<bool> g_stopping{false};
HANDLE g_stop = nullptr;  // manual-reset; set once the host should end
bool g_exit_on_disconnect = false;

void PrintLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out_lock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                          nullptr, nullptr);
  }
  return out;
}

void OnEvent(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length, void*) {
  if (event == EVENT_CONNECTED) g_connected = true;
  if (event == EVENT_BROKEN || event == EVENT_CONNECTION_RESET) g_connected = false;
  PrintLine(test_host::FormatEvent(event, type, data, length));
  if (event == EVENT_BROKEN && g_exit_on_disconnect) ::SetEvent(g_stop);
}

int32_t OnLogLine(int32_t, const char*, int32_t, const char* text) {
  std::lock_guard<std::mutex> lock(g_out_lock);
  std::fputs(text, stderr);
  std::fflush(stderr);
  return 1;
}

BOOL WINAPI OnConsoleControl(DWORD) {
  ::SetEvent(g_stop);
  return TRUE;
}

bool ParseNumber(const std::wstring& text, uint32_t* out) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
  if (*end != L'\0' || value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// 0 when the options are usable, 1 for --help, 2 for an error (printed).
int ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool has_value = i + 1 < argc;
    uint32_t number = 0;
    if (arg == L"--help") return 1;
    if (arg == L"--exit-on-disconnect") {
      options->exit_on_disconnect = true;
    } else if (arg == L"--print-log") {
      options->print_log = true;
    } else if (!has_value) {
      std::fprintf(stderr, "test-host: %s needs a value or is unknown\n", Narrow(arg).c_str());
      return 2;
    } else if (arg == L"--pipe") {
      options->pipe = argv[++i];
    } else if (arg == L"--send") {
      options->send = argv[++i];
    } else if (arg == L"--library") {
      options->library = argv[++i];
    } else if (arg == L"--log-file") {
      options->has_log_file = true;
      options->log_file = argv[++i];
    } else if (ParseNumber(argv[i + 1], &number)) {
      ++i;
      if (arg == L"--channels") {
        options->channels = number;
      } else if (arg == L"--type") {
        options->type = number;
      } else if (arg == L"--interval-ms") {
        options->interval_ms = number;
      } else if (arg == L"--duration-ms") {
        options->duration_ms = number;
      } else {
        std::fprintf(stderr, "test-host: unknown option %s\n", Narrow(arg).c_str());
        return 2;
      }
    } else {
      std::fprintf(stderr, "test-host: bad value for %s\n", Narrow(arg).c_str());
      return 2;
    }
  }
  if (options->pipe.empty()) {
    std::fprintf(stderr, "test-host: --pipe is required (see --help)\n");
    return 2;
  }
  return 0;
}

std::wstring BesideExecutable(const wchar_t* file) {
  wchar_t path[MAX_PATH];
  const std::wstring self(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  return self.substr(0, self.rfind(L'\\') + 1) + file;
}

// Sends each non-empty line of `in`, once a client is connected.
void SendLines(std::istream& in, uint32_t type, DWORD interval_ms) {
  std::string line;
  while (!g_stopping && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    while (!g_stopping && !g_connected) ::Sleep(10);
    int32_t result = 0;
    {
      std::lock_guard<std::mutex> lock(g_server_lock);
      if (g_server == nullptr) return;
      result = g_server->SendMessage(type, line.data(), static_cast<uint32_t>(line.size()));
    }
    PrintLine("sent type=" + std::to_string(type) + " length=" + std::to_string(line.size()) +
              " result=" + std::to_string(result));
    if (interval_ms != 0) ::Sleep(interval_ms);
  }
}

int Run(const Options& options) {
  const std::wstring library =
      options.library.empty() ? BesideExecutable(L"Quenlo.dll") : options.library;
  HMODULE module = ::LoadLibraryW(library.c_str());
  if (module == nullptr) {
    std::fprintf(stderr, "test-host: cannot load %s (%lu)\n", Narrow(library).c_str(),
                 ::GetLastError());
    return 3;
  }
  const quenlo_tools::QuenloExports exports = quenlo_tools::BindQuenloExports(module);
  const PFN_CreatePipeServer create = exports.create_server;
  const PFN_SetLogMessageCallback set_log = exports.set_log_callback;
  if (create == nullptr || set_log == nullptr) {
    std::fprintf(stderr, "test-host: export ordinal 2 or 7 missing\n");
    return 3;
  }
  if (options.print_log) set_log(&OnLogLine);

  Quenlo::IPipeServer* server = nullptr;
  if (!create(&server) || server == nullptr) {
    std::fprintf(stderr, "test-host: CreatePipeServer failed\n");
    return 4;
  }
  if (options.has_log_file) {
    const bool is_default = options.log_file == L"default";
    server->OpenLogFile(is_default ? nullptr : options.log_file.c_str());
  }
  {
    std::lock_guard<std::mutex> lock(g_server_lock);
    g_server = server;
  }
  server->SetCallback(&OnEvent, nullptr);
  server->Open(options.pipe.c_str(), options.channels);
  PrintLine("listening pipe=" + Narrow(options.pipe) +
            " channels=" + std::to_string(options.channels));

  // The sender. Reading stdin may block for ever, so the thread is left to
  // the process's end; it stops using the server once g_server is null.
  std::ifstream file;
  bool unreadable = false;
  if (!options.send.empty() && options.send != L"-") {
    file.open(std::filesystem::path(options.send), std::ios::binary);
    unreadable = !file.is_open();
    if (unreadable) {
      std::fprintf(stderr, "test-host: cannot read %s\n", Narrow(options.send).c_str());
      ::SetEvent(g_stop);
    }
  }
  if (!options.send.empty() && !unreadable) {
    std::istream* in = options.send == L"-" ? &std::cin : &file;
    std::thread([in, &options] { SendLines(*in, options.type, options.interval_ms); }).detach();
  }

  ::WaitForSingleObject(g_stop, options.duration_ms);
  g_stopping = true;
  {
    std::lock_guard<std::mutex> lock(g_server_lock);
    g_server = nullptr;
  }
  server->Close();
  server->Release();  // the last reference: waits for the teardown
  PrintLine("exit");
  // Skip static destruction: a detached sender may still sit in getline.
  std::fflush(stdout);
  ::ExitProcess(unreadable ? 5 : 0);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  Options options;
  const int parsed = argv != nullptr ? ParseOptions(argc, argv, &options) : 2;
  if (argv != nullptr) ::LocalFree(argv);
  if (parsed == 1) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parsed != 0) return 2;
  g_exit_on_disconnect = options.exit_on_disconnect;
  g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  return Run(options);
}
