#include "client_launcher.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "client_role.h"

namespace transport_bench {
using quenlo_tools::QuoteArgument;

ClientLauncher::ClientLauncher(bool same_process, std::wstring library, bool print_log,
                               const QuenloApi* api)
    : same_process_(same_process), library_(std::move(library)), print_log_(print_log), api_(api) {}

ClientLauncher::~ClientLauncher() {
  if (thread_.joinable()) thread_.join();
  process_.Terminate(1, INFINITE);
}

bool ClientLauncher::Start(const ClientRequest& request, std::string* error) {
  if (same_process_) {
    thread_results_.clear();
    thread_error_.clear();
    ::ResetEvent(thread_ended_.Get());
    thread_ = std::thread([this, request] {
      thread_ok_ = RunClientRole(request, api_, &thread_results_, &thread_error_);
      ::SetEvent(thread_ended_.Get());
    });
    return true;
  }
  wchar_t temp[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  result_path_ = std::wstring(temp, length) + L"transport-bench-" +
                 std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++sequence_) +
                 L".txt";
  std::wstring command = QuoteArgument(quenlo_tools::SelfPath()) + L" " +
                         FormatClientArguments(request) + L" --result " +
                         QuoteArgument(result_path_) + L" --library " + QuoteArgument(library_);
  if (print_log_) command += L" --print-log";
  DWORD failure = 0;
  if (!process_.Start(std::move(command), quenlo_tools::LaunchOptions(), &failure)) {
    *error = "cannot start the client process (error " + std::to_string(failure) + ")";
    return false;
  }
  return true;
}

bool ClientLauncher::Finish(DWORD timeout_ms, ResultRecord* results, std::string* error) {
  if (same_process_) {
    if (thread_.joinable()) thread_.join();
    *results = thread_results_;
    *error = thread_error_;
    return thread_ok_;
  }
  if (!process_.Started()) {
    *error = "no client process";
    return false;
  }
  const DWORD exit_code = process_.Wait(timeout_ms);
  if (exit_code == quenlo_tools::LaunchedProcess::kStillRunning) {
    process_.Terminate(1, INFINITE);
    process_.Close();
    *error = "the client process did not end in time";
    return false;
  }
  process_.Close();
  std::ifstream in(std::filesystem::path(result_path_), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  ::DeleteFileW(result_path_.c_str());
  if (exit_code != 0) {
    const size_t at = text.find("error=");
    *error = at == std::string::npos
                 ? "the client process failed (exit code " + std::to_string(exit_code) + ")"
                 : text.substr(at + 6);
    while (!error->empty() && (error->back() == '\n' || error->back() == '\r')) error->pop_back();
    return false;
  }
  if (!ParseRecord(text, results)) {
    *error = "unreadable result file";
    return false;
  }
  return true;
}

int RunChildClient(int argc, wchar_t** argv) {
  ClientRequest request;
  std::wstring result_path;
  std::wstring library = DefaultLibraryPath();
  bool print_log = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--print-log") print_log = true;
    if (arg == L"--result" && i + 1 < argc) result_path = argv[i + 1];
    if (arg == L"--library" && i + 1 < argc) library = argv[i + 1];
  }
  if (result_path.empty() || !ParseClientArguments(argc, argv, 1, &request)) return 2;
  std::string error;
  const bool needs_library =
      request.scenario != Scenario::kRawStream && request.scenario != Scenario::kRawEcho &&
      request.scenario != Scenario::kRawFrames && request.scenario != Scenario::kPortStream;
  const QuenloApi* api = needs_library ? LoadQuenlo(library, print_log, &error) : nullptr;
  ResultRecord results;
  const bool ok =
      (!needs_library || api != nullptr) && RunClientRole(request, api, &results, &error);
  std::ofstream out(std::filesystem::path(result_path), std::ios::binary | std::ios::trunc);
  out << (ok ? FormatRecord(results) : "error=" + error + "\n");
  out.close();
  return ok ? 0 : 1;
}

}  // namespace transport_bench
