#include "raw_pipe_server.h"

#include <chrono>
#include <utility>

#include "Quenlo/message/IPCMessage.h"

namespace client_test {

RawPipeServer::RawPipeServer(std::wstring name, bool answer_hello, DWORD hello_delay_ms)
    : name_(std::move(name)), answer_hello_(answer_hello), hello_delay_ms_(hello_delay_ms) {
  read_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  write_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stop_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

RawPipeServer::~RawPipeServer() {
  Close();
  ::CloseHandle(read_event_);
  ::CloseHandle(write_event_);
  ::CloseHandle(stop_event_);
}

bool RawPipeServer::Start() {
  const std::wstring path = L"\\\\.\\pipe\\ipc." + name_;
  pipe_ = ::CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 3000,
                             nullptr);
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  thread_ = std::thread(&RawPipeServer::Run, this);
  return true;
}

void RawPipeServer::Close() {
  if (pipe_ == INVALID_HANDLE_VALUE) return;
  ::SetEvent(stop_event_);
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> write(write_mutex_);
  ::CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
}

bool RawPipeServer::Await(OVERLAPPED* overlapped, DWORD* bytes) {
  const HANDLE handles[2] = {overlapped->hEvent, stop_event_};
  if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
    // Stopping: the system must be done with the record before it goes.
    ::CancelIoEx(pipe_, overlapped);
    ::GetOverlappedResult(pipe_, overlapped, bytes, TRUE);
    return false;
  }
  return ::GetOverlappedResult(pipe_, overlapped, bytes, FALSE) != FALSE;
}

void RawPipeServer::Run() {
  OVERLAPPED overlapped = {};
  overlapped.hEvent = read_event_;
  DWORD bytes = 0;
  if (!::ConnectNamedPipe(pipe_, &overlapped)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      if (!Await(&overlapped, &bytes)) return;
    } else if (error != ERROR_PIPE_CONNECTED) {
      return;
    }
  }
  char buffer[4096];
  for (;;) {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = read_event_;
    bytes = 0;
    BOOL ok = ::ReadFile(pipe_, buffer, sizeof(buffer), &bytes, &overlapped);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) ok = Await(&overlapped, &bytes);
    if (!ok || bytes == 0) break;
    if (!reader_.TranslateInput(buffer, bytes)) break;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  client_gone_ = true;
  changed_.notify_all();
}

bool RawPipeServer::WriteAll(const char* data, DWORD size) {
  std::lock_guard<std::mutex> write(write_mutex_);
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = write_event_;
  DWORD written = 0;
  BOOL ok = ::WriteFile(pipe_, data, size, &written, &overlapped);
  if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
    ok = ::GetOverlappedResult(pipe_, &overlapped, &written, TRUE);
  }
  return ok && written == size;
}

bool RawPipeServer::Send(uint32_t type, const std::string& data) {
  Ravoque::IPCMessage message(type);
  message.WriteData(data.data(), data.size());
  return WriteAll(message.Data(), static_cast<DWORD>(message.Size()));
}

void RawPipeServer::OnHello(int32_t peer_process_id) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    client_hello_ = true;
    client_pid_ = static_cast<uint32_t>(peer_process_id);
    changed_.notify_all();
  }
  if (!answer_hello_) return;
  if (hello_delay_ms_ > 0) ::Sleep(hello_delay_ms_);
  SendHello();
}

bool RawPipeServer::SendHello() {
  Ravoque::IPCMessage hello(Ravoque::IPCMessage::kTypeHello);
  hello.WriteInt(static_cast<int32_t>(::GetCurrentProcessId()));
  return WriteAll(hello.Data(), static_cast<DWORD>(hello.Size()));
}

void RawPipeServer::OnInternalBroken() {}

void RawPipeServer::OnUserMessage(uint32_t type, const char* data, uint32_t length) {
  std::lock_guard<std::mutex> hold(mutex_);
  messages_.push_back({type, std::string(data != nullptr ? data : "", length)});
  changed_.notify_all();
}

bool RawPipeServer::WaitClientHello(DWORD timeout_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [this] { return client_hello_; });
}

bool RawPipeServer::WaitMessages(size_t count, DWORD timeout_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [this, count] { return messages_.size() >= count; });
}

bool RawPipeServer::WaitClientGone(DWORD timeout_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [this] { return client_gone_; });
}

std::vector<RawPipeServer::Message> RawPipeServer::Messages() {
  std::lock_guard<std::mutex> hold(mutex_);
  return messages_;
}

uint32_t RawPipeServer::ClientProcessId() {
  std::lock_guard<std::mutex> hold(mutex_);
  return client_pid_;
}

}  // namespace client_test
