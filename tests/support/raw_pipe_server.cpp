#include "tests/support/raw_pipe_server.h"

#include <chrono>
#include <utility>

namespace test_support {
namespace {
constexpr std::chrono::milliseconds kForever{INFINITE};
}

RawPipeServer::RawPipeServer(std::wstring name, bool answer_hello, DWORD hello_delay_ms)
    : name_(std::move(name)), answer_hello_(answer_hello), hello_delay_ms_(hello_delay_ms) {}

RawPipeServer::~RawPipeServer() { Close(); }

bool RawPipeServer::Start() {
  if (!pipe_.CreateServer(name_)) return false;
  started_ = true;
  thread_ = std::thread(&RawPipeServer::Run, this);
  return true;
}

void RawPipeServer::Close() {
  if (!started_) return;
  started_ = false;
  pipe_.Stop();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> write(write_mutex_);
  pipe_.Close();
}

void RawPipeServer::Run() {
  if (!pipe_.Accept(kForever)) return;
  char buffer[Quenlo::PipeChannelReader::kReadBufferSize];
  DWORD got = 0;
  while (pipe_.ReadSome(buffer, sizeof(buffer), &got, kForever)) {
    if (!reader_.TranslateInput(buffer, got)) break;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  client_gone_ = true;
  changed_.notify_all();
}

bool RawPipeServer::WriteAll(const std::string& bytes) {
  std::lock_guard<std::mutex> write(write_mutex_);
  return pipe_.IsOpen() && pipe_.Write(bytes, kForever);
}

bool RawPipeServer::Send(uint32_t type, const std::string& data) {
  return WriteAll(UserMessage(type, data));
}

bool RawPipeServer::SendHello() {
  return WriteAll(HelloMessage(static_cast<int32_t>(::GetCurrentProcessId())));
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

void RawPipeServer::OnUserMessage(uint32_t type, const char* data, uint32_t length) {
  std::lock_guard<std::mutex> hold(mutex_);
  messages_.push_back({type, std::string(data != nullptr ? data : "", length)});
  changed_.notify_all();
}

bool RawPipeServer::WaitState(DWORD timeout_ms, const std::function<bool()>& done) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), done);
}

bool RawPipeServer::WaitClientHello(DWORD timeout_ms) {
  return WaitState(timeout_ms, [this] { return client_hello_; });
}

bool RawPipeServer::WaitMessages(size_t count, DWORD timeout_ms) {
  return WaitState(timeout_ms, [this, count] { return messages_.size() >= count; });
}

bool RawPipeServer::WaitClientGone(DWORD timeout_ms) {
  return WaitState(timeout_ms, [this] { return client_gone_; });
}

std::vector<RawPipeServer::Message> RawPipeServer::Messages() {
  std::lock_guard<std::mutex> hold(mutex_);
  return messages_;
}

uint32_t RawPipeServer::ClientProcessId() {
  std::lock_guard<std::mutex> hold(mutex_);
  return client_pid_;
}

}  // namespace test_support
