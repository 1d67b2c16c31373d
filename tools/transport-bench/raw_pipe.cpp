#include "raw_pipe.h"

namespace transport_bench {
namespace {

// The library's channel uses these exact values; so does the baseline.
constexpr DWORD kServerOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_WRITE_THROUGH;
constexpr DWORD kClientFlags =
    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING;

std::wstring PipePath(const std::wstring& name) { return L"\\\\.\\pipe\\" + name; }

}  // namespace

RawPipe::~RawPipe() {
  if (connect_pending_) {
    ::CancelIoEx(pipe_.Get(), &connect_);
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe_.Get(), &connect_, &ignored, TRUE);
  }
}

bool RawPipe::Create(const std::wstring& name) {
  read_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  write_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  connect_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event_.IsValid() || !write_event_.IsValid() || !connect_event_.IsValid()) return false;
  pipe_.Reset(::CreateNamedPipeW(PipePath(name).c_str(), kServerOpenMode,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kBufferSize,
                                 kBufferSize, 3000, nullptr));
  if (!pipe_.IsValid()) return false;
  connect_ = OVERLAPPED{};
  connect_.hEvent = connect_event_.Get();
  if (::ConnectNamedPipe(pipe_.Get(), &connect_)) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_PIPE_CONNECTED) ::SetEvent(connect_event_.Get());
  connect_pending_ = error == ERROR_IO_PENDING;
  return error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING;
}

bool RawPipe::Accept(DWORD timeout_ms) {
  if (!connect_pending_) return pipe_.IsValid();
  if (::WaitForSingleObject(connect_event_.Get(), timeout_ms) != WAIT_OBJECT_0) return false;
  connect_pending_ = false;
  DWORD ignored = 0;
  return ::GetOverlappedResult(pipe_.Get(), &connect_, &ignored, FALSE) ||
         ::GetLastError() == ERROR_PIPE_CONNECTED;
}

bool RawPipe::Open(const std::wstring& name, DWORD timeout_ms) {
  read_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  write_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event_.IsValid() || !write_event_.IsValid()) return false;
  const std::wstring path = PipePath(name);
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    pipe_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              kClientFlags, nullptr));
    if (pipe_.IsValid()) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PIPE_BUSY) return false;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(1);
  }
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  return ::SetNamedPipeHandleState(pipe_.Get(), &mode, nullptr, nullptr) != FALSE;
}

bool RawPipe::UseCompletionPort() {
  port_.Reset(::CreateIoCompletionPort(pipe_.Get(), nullptr, 1, 1));
  return port_.IsValid();
}

bool RawPipe::Wait(OVERLAPPED* overlapped, BOOL started, DWORD* transferred) {
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
  if (!port_.IsValid())
    return ::GetOverlappedResult(pipe_.Get(), overlapped, transferred, TRUE) != FALSE;
  // A bound handle queues a packet for every completion, immediate ones too.
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  const BOOL ok = ::GetQueuedCompletionStatus(port_.Get(), transferred, &key, &done, INFINITE);
  return ok && done == overlapped;
}

bool RawPipe::Write(const void* data, DWORD size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_event_.Get();
    DWORD written = 0;
    const BOOL started = ::WriteFile(pipe_.Get(), at, size, nullptr, &overlapped);
    if (!Wait(&overlapped, started, &written) || written == 0) return false;
    at += written;
    size -= written;
  }
  return true;
}

DWORD RawPipe::Read(void* buffer, DWORD capacity) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = read_event_.Get();
  DWORD read = 0;
  const BOOL started = ::ReadFile(pipe_.Get(), buffer, capacity, nullptr, &overlapped);
  if (!Wait(&overlapped, started, &read)) return 0;
  return read;
}

bool RawPipe::ReadExact(void* buffer, DWORD size) {
  char* at = static_cast<char*>(buffer);
  while (size > 0) {
    const DWORD read = Read(at, size);
    if (read == 0) return false;
    at += read;
    size -= read;
  }
  return true;
}

}  // namespace transport_bench
