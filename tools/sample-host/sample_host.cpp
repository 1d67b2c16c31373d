// sample-host: the smallest complete host of Tessaly. It opens Quenlo's
// server, starts Tessaly.exe from its own folder, answers the panel's
// subscription requests, receives one overlay frame, asks the panel to
// close and shuts down in order. It links Quenlo through its import library
// (Quenlo.lib, or libQuenlo.dll.a with MinGW) and needs nothing but
// <windows.h> and Quenlo.h; it uses no C++ library, so that the same file
// also builds without one. Exit code 0 when every step worked.
#include <windows.h>

#include "Quenlo/Quenlo.h"

namespace {

constexpr uint32_t kHostText = 1;   // host to panel: a JSON text
constexpr uint32_t kRequest = 101;  // panel to host: a JSON request
constexpr DWORD kStepTimeoutMs = 20000;

void Say(const char* text) {
  DWORD length = 0;
  while (text[length] != 0) ++length;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

void SayNumber(uint32_t value) {
  char digits[11];
  int i = 10;
  digits[i] = 0;
  do {
    digits[--i] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Say(digits + i);
}

// What the callback hands to main. Each field is written before the event
// that announces it is set, and read only after main waited for that event.
struct HostState {
  Quenlo::IPipeServer* server = nullptr;
  HANDLE subscribed = nullptr;  // set after the third subscription answer
  HANDLE framed = nullptr;      // set after the first video packet
  uint32_t answers = 0;         // touched only on the channel's reader thread
  uint32_t width = 0, height = 0, stride = 0, format = 0;
};

// Answers {"type":"request","reqId":"<id>",...} with
// {"type":"response","reqId":"<id>","code":0,"message":"ok"}.
void Answer(HostState& host, const char* text, uint32_t length) {
  static const char kKey[] = "\"reqId\":\"";
  const uint32_t key_length = sizeof kKey - 1;
  for (uint32_t at = 0; at + key_length <= length; ++at) {
    uint32_t k = 0;
    while (k < key_length && text[at + k] == kKey[k]) ++k;
    if (k != key_length) continue;
    const uint32_t begin = at + key_length;
    uint32_t end = begin;
    while (end < length && text[end] != '"') ++end;
    char answer[512];
    const char kHead[] = "{\"type\":\"response\",\"reqId\":\"";
    const char kTail[] = "\",\"code\":0,\"message\":\"ok\"}";
    if (end - begin + sizeof kHead + sizeof kTail > sizeof answer) return;
    uint32_t n = 0;
    for (uint32_t i = 0; kHead[i] != 0; ++i) answer[n++] = kHead[i];
    for (uint32_t i = begin; i < end; ++i) answer[n++] = text[i];
    for (uint32_t i = 0; kTail[i] != 0; ++i) answer[n++] = kTail[i];
    host.server->SendMessage(kHostText, answer, n);
    if (++host.answers == 3) SetEvent(host.subscribed);
    return;
  }
}

// Runs on library threads: channel events and messages on the channel's
// reader thread, packets on each channel's video and audio reader threads.
// The data is valid only during the call.
void OnEvent(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
             void* context) {
  HostState& host = *static_cast<HostState*>(context);
  if (event == EVENT_MESSAGE && type == kRequest) {
    Answer(host, data, length);
  } else if (event == EVENT_PACKET && length == sizeof(MediaPacket)) {
    const MediaPacket* packet = reinterpret_cast<const MediaPacket*>(data);
    if (packet->kind == MEDIA_PACKET_VIDEO && host.width == 0) {
      host.width = packet->width;
      host.height = packet->height;
      host.stride = static_cast<uint32_t>(packet->linesize[0]);
      host.format = packet->format;
      SetEvent(host.framed);
    }
  }
}

// Starts Tessaly.exe from this program's folder, inheriting no handles: a
// panel that inherited the host's handles would keep them open after the
// host closed them (files, pipes, and the console's streams).
bool StartPanel(const wchar_t* pipe_name, PROCESS_INFORMATION* panel) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  while (n > 0 && exe[n - 1] != L'\\') --n;
  const wchar_t kName[] = L"Tessaly.exe";
  for (DWORD i = 0; i < sizeof kName / sizeof kName[0]; ++i) exe[n + i] = kName[i];
  wchar_t command[MAX_PATH + 96];
  DWORD c = 0;
  const wchar_t* parts[] = {L"Tessaly.exe --pipeName=", pipe_name, L" --maxChannels=1"};
  for (const wchar_t* part : parts) {
    while (*part != 0) command[c++] = *part++;
  }
  command[c] = 0;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // and all three null
  return CreateProcessW(exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        panel) != FALSE;
}

}  // namespace

int main() {
  Say("sample-host: Quenlo ");
  Say(QueryVersion());
  Say("\n");
  HostState host;
  host.subscribed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  host.framed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!CreatePipeServer(&host.server)) return 1;
  host.server->SetCallback(OnEvent, &host);
  host.server->Open(L"sample-host", 1);  // listens in the background

  PROCESS_INFORMATION panel = {};
  int result = 2;
  if (StartPanel(L"sample-host", &panel)) {
    result = 3;
    if (WaitForSingleObject(host.subscribed, kStepTimeoutMs) == WAIT_OBJECT_0 &&
        WaitForSingleObject(host.framed, kStepTimeoutMs) == WAIT_OBJECT_0) {
      Say("sample-host: 3 subscriptions answered, frame ");
      SayNumber(host.width);
      Say("x");
      SayNumber(host.height);
      Say(" stride ");
      SayNumber(host.stride);
      Say(" format ");
      SayNumber(host.format);
      Say("\n");
      static const char kClose[] = "{\"type\":\"event\",\"eventName\":\"OPEN_WIN_CLOSE\"}";
      host.server->SendMessage(kHostText, kClose, sizeof kClose - 1);
      DWORD code = 1;
      if (WaitForSingleObject(panel.hProcess, kStepTimeoutMs) == WAIT_OBJECT_0 &&
          GetExitCodeProcess(panel.hProcess, &code) && code == 0) {
        Say("sample-host: Tessaly closed\n");
        result = 0;
      }
    }
    if (result != 0) TerminateProcess(panel.hProcess, 99);
    CloseHandle(panel.hThread);
    CloseHandle(panel.hProcess);
  }
  // Shutdown: Close (runs in the background), then the last Release, which
  // waits for the library's threads; no callback runs after it.
  host.server->Close();
  host.server->Release();
  CloseHandle(host.framed);
  CloseHandle(host.subscribed);
  Say(result == 0 ? "sample-host: done\n" : "sample-host: FAILED\n");
  return result;
}
