#include "tests/support/raw_pipe.h"

#include "Quenlo/message/IPCMessage.h"

namespace test_support {

std::wstring IpcPipePath(const std::wstring& name) { return L"\\\\.\\pipe\\ipc." + name; }

std::string UserMessage(uint32_t type, const std::string& blob) {
  Ravoque::IPCMessage message(type);
  message.WriteData(blob.data(), blob.size());
  return std::string(message.Data(), message.Size());
}

std::string IntMessage(uint32_t type, int32_t value) {
  Ravoque::IPCMessage message(type);
  message.WriteInt(value);
  return std::string(message.Data(), message.Size());
}

std::string HelloMessage(int32_t process_id) {
  return IntMessage(Ravoque::IPCMessage::kTypeHello, process_id);
}

uint32_t Le32(const std::string& bytes, size_t at) { return Ravoque::LoadLE32(&bytes[at]); }

RawPipe::RawPipe()
    : read_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      write_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      stop_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

RawPipe::~RawPipe() { Close(); }

bool RawPipe::CreateServer(const std::wstring& name) {
  handle_ = ::CreateNamedPipeW(IpcPipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 3000,
                               nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

bool RawPipe::Accept(std::chrono::milliseconds timeout) {
  OVERLAPPED ov = Fresh(read_event_.Get());
  if (::ConnectNamedPipe(handle_, &ov)) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error != ERROR_IO_PENDING) return false;
  return Finish(&ov, timeout, nullptr);
}

bool RawPipe::OpenClient(const std::wstring& name) {
  handle_ = ::CreateFileW(IpcPipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

bool RawPipe::Write(const std::string& bytes, std::chrono::milliseconds timeout) {
  OVERLAPPED ov = Fresh(write_event_.Get());
  DWORD n = 0;
  if (!::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &ov) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return Finish(&ov, timeout, &n) && n == bytes.size();
}

bool RawPipe::ReadSome(char* buffer, DWORD capacity, DWORD* got,
                       std::chrono::milliseconds timeout) {
  OVERLAPPED ov = Fresh(read_event_.Get());
  *got = 0;
  if (!::ReadFile(handle_, buffer, capacity, got, &ov) && ::GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return Finish(&ov, timeout, got) && *got != 0;
}

bool RawPipe::Read(size_t size, std::string* out, std::chrono::milliseconds timeout) {
  out->assign(size, '\0');
  size_t have = 0;
  while (have < size) {
    DWORD n = 0;
    if (!ReadSome(&(*out)[have], static_cast<DWORD>(size - have), &n, timeout)) return false;
    have += n;
  }
  return true;
}

bool RawPipe::ReadMessage(std::string* out, std::chrono::milliseconds timeout) {
  std::string header;
  if (!Read(kHeaderSize, &header, timeout)) return false;
  std::string payload;
  if (Le32(header, 0) != 0 && !Read(Le32(header, 0), &payload, timeout)) return false;
  *out = header + payload;
  return true;
}

bool RawPipe::Disconnect() { return ::DisconnectNamedPipe(handle_) != 0; }

void RawPipe::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

void RawPipe::Stop() { ::SetEvent(stop_event_.Get()); }

OVERLAPPED RawPipe::Fresh(HANDLE event) {
  ::ResetEvent(event);
  OVERLAPPED ov = {};
  ov.hEvent = event;
  return ov;
}

bool RawPipe::Finish(OVERLAPPED* ov, std::chrono::milliseconds timeout, DWORD* n) {
  DWORD count = 0;
  const HANDLE handles[2] = {ov->hEvent, stop_event_.Get()};
  if (::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(timeout.count())) !=
      WAIT_OBJECT_0) {
    // Timed out or stopped: the system must be done with the record before it goes.
    ::CancelIoEx(handle_, ov);
    ::GetOverlappedResult(handle_, ov, &count, TRUE);
    return false;
  }
  const bool ok = ::GetOverlappedResult(handle_, ov, &count, FALSE) != 0;
  if (n != nullptr) *n = count;
  return ok;
}

}  // namespace test_support
