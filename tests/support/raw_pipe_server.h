// Test double of the host's end of a pipe: a plain named-pipe server that
// speaks the wire format. It accepts one client on IpcPipePath(name),
// answers the client's hello with its own (type 65535, routing -2, its
// process id), records every user message and can send messages back.
// Closing it breaks the client's pipe the way a host going away does.
//
// Threads: one reader thread per server (accept, reads, the hello answer);
// Send and the accessors may be called from any thread.
#ifndef TESTS_SUPPORT_RAW_PIPE_SERVER_H
#define TESTS_SUPPORT_RAW_PIPE_SERVER_H

#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Quenlo/PipeChannelReader.h"
#include "tests/support/raw_pipe.h"

namespace test_support {

class RawPipeServer final : private Quenlo::PipeChannelReader::Delegate {
 public:
  struct Message {
    uint32_t type;
    std::string data;
  };

  // `answer_hello`: write our hello once the client's arrived (after
  // `hello_delay_ms`); without it the client never sees EVENT_CONNECTED.
  explicit RawPipeServer(std::wstring name, bool answer_hello = true, DWORD hello_delay_ms = 0);
  ~RawPipeServer();
  RawPipeServer(const RawPipeServer&) = delete;
  RawPipeServer& operator=(const RawPipeServer&) = delete;

  // Creates the pipe and starts waiting for the client. False when the pipe
  // cannot be created.
  bool Start();
  // Closes our end: a connected client sees its pipe break. Joins the thread.
  void Close();

  // Writes our hello now (for a server made without `answer_hello`).
  bool SendHello();
  // Frames `data` as one message of `type` (one data blob) and writes it.
  bool Send(uint32_t type, const std::string& data);

  // Waits until the client's hello arrived / `count` user messages arrived /
  // the client's end went away. False on time-out.
  bool WaitClientHello(DWORD timeout_ms);
  bool WaitMessages(size_t count, DWORD timeout_ms);
  bool WaitClientGone(DWORD timeout_ms);

  std::vector<Message> Messages();
  uint32_t ClientProcessId();

 private:
  void Run();
  bool WriteAll(const std::string& bytes);
  bool WaitState(DWORD timeout_ms, const std::function<bool()>& done);

  // PipeChannelReader::Delegate (reader thread).
  void OnHello(int32_t peer_process_id) override;
  void OnInternalBroken() override {}
  void OnUserMessage(uint32_t type, const char* data, uint32_t length) override;

  const std::wstring name_;
  const bool answer_hello_;
  const DWORD hello_delay_ms_;
  RawPipe pipe_;  // the owner's thread creates/closes; reads on the reader thread
  bool started_ = false;
  std::thread thread_;
  Quenlo::PipeChannelReader reader_{this};  // reader thread

  std::mutex write_mutex_;  // one write at a time; Close waits for it
  std::mutex mutex_;        // guards the fields below
  std::condition_variable changed_;
  bool client_hello_ = false;
  bool client_gone_ = false;
  uint32_t client_pid_ = 0;
  std::vector<Message> messages_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_RAW_PIPE_SERVER_H
