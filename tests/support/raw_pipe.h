// A raw end of one of the library's named pipes, for playing the peer by
// hand: the server end or the client end of "\\.\pipe\ipc.<name>", driven
// with overlapped calls that each have a time limit, plus the framing of the
// wire format so that a test writes and checks exact bytes.
//
// Threads: one thread may read while another writes; Stop may be called
// from any thread and ends any wait at once (the call then fails).
#ifndef TESTS_SUPPORT_RAW_PIPE_H
#define TESTS_SUPPORT_RAW_PIPE_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "tests/support/wait_until.h"

namespace test_support {

// "\\.\pipe\ipc." + name.
std::wstring IpcPipePath(const std::wstring& name);

// One framed message: header (payload size, routing -2, type, flags) and
// payload, as the wire carries it.
std::string UserMessage(uint32_t type, const std::string& blob);  // one data blob
std::string IntMessage(uint32_t type, int32_t value);             // one int
std::string HelloMessage(int32_t process_id);
// The little-endian 32-bit value at `at`.
uint32_t Le32(const std::string& bytes, size_t at);

class RawPipe {
 public:
  static constexpr size_t kHeaderSize = 16;

  RawPipe();
  ~RawPipe();
  RawPipe(const RawPipe&) = delete;
  RawPipe& operator=(const RawPipe&) = delete;

  // A one-instance server end of IpcPipePath(name).
  bool CreateServer(const std::wstring& name);
  // Waits for a client (true also when one connected before the call).
  bool Accept(std::chrono::milliseconds timeout = kWaitTimeout);
  // The client end of IpcPipePath(name).
  bool OpenClient(const std::wstring& name);

  bool Write(const std::string& bytes, std::chrono::milliseconds timeout = kWaitTimeout);
  // Reads exactly `size` bytes.
  bool Read(size_t size, std::string* out, std::chrono::milliseconds timeout = kWaitTimeout);
  // One read of at most `capacity` bytes; false when the pipe broke.
  bool ReadSome(char* buffer, DWORD capacity, DWORD* got,
                std::chrono::milliseconds timeout = kWaitTimeout);
  // Reads one whole message (header, then its payload).
  bool ReadMessage(std::string* out, std::chrono::milliseconds timeout = kWaitTimeout);

  bool Disconnect();
  void Close();
  // Ends every wait, now and later, with failure.
  void Stop();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  OVERLAPPED Fresh(HANDLE event);
  bool Finish(OVERLAPPED* ov, std::chrono::milliseconds timeout, DWORD* n);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  BrisqFramework::BrisqHandle read_event_;
  BrisqFramework::BrisqHandle write_event_;
  BrisqFramework::BrisqHandle stop_event_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_RAW_PIPE_H
