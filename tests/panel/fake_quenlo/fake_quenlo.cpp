// A stand-in for Quenlo.dll in the panel's process tests. It exports the
// three ordinals the panel binds (1, 5, 7) and a client that a test steers
// through files in the DLL's own folder:
//   inbox\*.json  delivered as EVENT_MESSAGE (file name order), then deleted
//   inbox\*.evt   delivered as the event whose number the file holds, then deleted
//   create_fails  present: Create returns 0
// and that reports back through files in the same folder:
//   created.txt   "<pipe name>|<channels>" written by Create
//   sent.log      one line per SendMessage: "<type>\t<text>"
//   frame.raw     the latest video packet's pixels, rewritten when they change
//   log_sink.txt  the value the panel's log sink returned for a test line
// Create connects at once (EVENT_CONNECTED from the worker thread).
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Quenlo/Quenlo.h"
#include "Quenlo/RefCountedInterface.h"

// The doubles below implement the interface method SendMessage, not
// <windows.h>'s macro of that name.
#undef SendMessage

namespace {

std::wstring dll_folder() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&dll_folder), &self);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::string read_file(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::wstring& path, const std::string& bytes) {
  const std::wstring temp = path + L".tmp";
  std::ofstream(temp.c_str(), std::ios::binary | std::ios::trunc) << bytes;
  // A test reading the file at this moment makes the replace fail; the
  // report would then stay stale, as it is written only when it changes.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    ::Sleep(5);
  }
}

class FakeClient final : public Quenlo::RefCountedInterface<FakeClient, Quenlo::IPipeClient> {
 public:
  FakeClient() : RefCountedInterface(1, Quenlo::IID_IPipeClient) {}
  uint32_t IsConnected() override { return running_ ? 1 : 0; }
  void SetCallback(PipeCallback callback, void* context) override {
    callback_ = callback;
    context_ = context;
  }
  int32_t Create(const wchar_t* name, uint32_t channels) override {
    const std::wstring text = std::wstring(name ? name : L"") + L"|" + std::to_wstring(channels);
    write_file(folder_ + L"created.txt", std::string(text.begin(), text.end()));
    if (::GetFileAttributesW((folder_ + L"create_fails").c_str()) != INVALID_FILE_ATTRIBUTES) {
      return 0;
    }
    running_ = true;
    worker_ = std::thread([this] { run(); });
    return 1;
  }
  void Destroy() override {
    if (!worker_.joinable()) return;
    running_ = false;
    worker_.join();
    // As the real client does when it tears a live link down.
    if (callback_ != nullptr) callback_(EVENT_DISCONNECTED, 0, nullptr, 0, context_);
  }
  int32_t SendMessage(uint32_t type, const char* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(sent_mutex_);
    std::ofstream out((folder_ + L"sent.log").c_str(), std::ios::binary | std::ios::app);
    out << type << '\t' << std::string(data, length) << '\n';
    return 1;
  }
  int32_t WritePacket(const MediaPacket* packet, uint32_t) override {
    const std::string pixels(reinterpret_cast<const char*>(packet->data[0]), packet->audio_bytes);
    if (pixels != last_frame_) {
      last_frame_ = pixels;
      write_file(folder_ + L"frame.raw", pixels);
    }
    return 1;
  }
  int32_t WritePacketAsync(const MediaPacket* packet) override { return WritePacket(packet, 0); }

 private:
  void run() {
    callback_(EVENT_CONNECTED, 0, nullptr, 0, context_);
    const std::wstring inbox = folder_ + L"inbox\\";
    while (running_) {
      std::set<std::wstring> names;  // sorted: delivery in file name order
      WIN32_FIND_DATAW found;
      const HANDLE find = ::FindFirstFileW((inbox + L"*").c_str(), &found);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
      }
      for (const std::wstring& name : names) deliver(inbox, name);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  void deliver(const std::wstring& inbox, const std::wstring& name) {
    const std::wstring ext = name.size() > 4 ? name.substr(name.size() - 4) : L"";
    if (ext != L"json" && ext != L".evt") return;  // e.g. a file still being written
    const std::string bytes = read_file(inbox + name);
    ::DeleteFileW((inbox + name).c_str());
    if (ext == L"json") {
      callback_(EVENT_MESSAGE, 1, bytes.data(), static_cast<uint32_t>(bytes.size()), context_);
    } else {
      callback_(static_cast<IPC_EVENT_TYPE>(std::atoi(bytes.c_str())), 0, nullptr, 0, context_);
    }
  }

  std::atomic<bool> running_{false};
  const std::wstring folder_ = dll_folder();
  PipeCallback callback_ = nullptr;
  void* context_ = nullptr;
  std::thread worker_;
  std::mutex sent_mutex_;
  std::string last_frame_;  // frame thread only
};

}  // namespace

extern "C" {

int32_t CreatePipeClient(Quenlo::IPipeClient** client) {
  if (client == nullptr) return 0;
  *client = new FakeClient();
  return 1;
}

uint64_t GetTimeNS() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void SetLogMessageCallback(LogMessageCallback callback) {
  const int32_t handled = callback ? callback(0, "fake_quenlo.cpp", 1, "test line\n") : -1;
  write_file(dll_folder() + L"log_sink.txt", std::to_string(handled));
}

}  // extern "C"
