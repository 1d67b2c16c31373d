#include "scenario.h"

#include <cwchar>

namespace transport_bench {
namespace {

constexpr Scenario kAll[] = {Scenario::kRawStream,    Scenario::kQuenloStream, Scenario::kRawEcho,
                             Scenario::kQuenloEcho,   Scenario::kFrameWrite,   Scenario::kRawFrames,
                             Scenario::kQuenloFrames, Scenario::kPortStream};

bool ParseNumber(const wchar_t* text, uint32_t* out) {
  if (text == nullptr || *text == L'\0') return false;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (*end != L'\0' || value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

const wchar_t* ScenarioName(Scenario scenario) {
  switch (scenario) {
    case Scenario::kRawStream:
      return L"raw-stream";
    case Scenario::kQuenloStream:
      return L"quenlo-stream";
    case Scenario::kRawEcho:
      return L"raw-echo";
    case Scenario::kQuenloEcho:
      return L"quenlo-echo";
    case Scenario::kFrameWrite:
      return L"frame-write";
    case Scenario::kRawFrames:
      return L"raw-frames";
    case Scenario::kQuenloFrames:
      return L"quenlo-frames";
    case Scenario::kPortStream:
      return L"port-stream";
  }
  return L"?";
}

std::wstring FormatClientArguments(const ClientRequest& request) {
  return std::wstring(L"--client ") + ScenarioName(request.scenario) + L" --name " + request.name +
         L" --payload " + std::to_wstring(request.payload) + L" --count " +
         std::to_wstring(request.count) + L" --warmup " + std::to_wstring(request.warmup) +
         L" --fps " + std::to_wstring(request.fps);
}

bool ParseClientArguments(int argc, wchar_t** argv, int first, ClientRequest* request) {
  bool has_scenario = false;
  for (int i = first; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--print-log") continue;
    if (i + 1 >= argc) return false;
    const wchar_t* value = argv[++i];
    if (arg == L"--result" || arg == L"--library") continue;
    if (arg == L"--client") {
      for (Scenario scenario : kAll) {
        if (std::wcscmp(value, ScenarioName(scenario)) == 0) {
          request->scenario = scenario;
          has_scenario = true;
        }
      }
      if (!has_scenario) return false;
    } else if (arg == L"--name") {
      request->name = value;
    } else if (arg == L"--payload") {
      if (!ParseNumber(value, &request->payload)) return false;
    } else if (arg == L"--count") {
      if (!ParseNumber(value, &request->count)) return false;
    } else if (arg == L"--warmup") {
      if (!ParseNumber(value, &request->warmup)) return false;
    } else if (arg == L"--fps") {
      if (!ParseNumber(value, &request->fps)) return false;
    } else {
      return false;
    }
  }
  return has_scenario && !request->name.empty();
}

}  // namespace transport_bench
