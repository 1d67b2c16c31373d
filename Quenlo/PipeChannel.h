// PipeChannel.h - one duplex connection over a Windows named pipe in byte
// mode with overlapped I/O: creates the server end or opens the client end,
// writes framed messages from a FIFO queue, reads the byte stream, cuts it
// into messages and reports them, and the link's changes, to one callback.
//
// Threads and locks:
// - Owner's thread: Open (before Connect, not concurrently with Close),
//   SetCallback, and the last Release.
// - Connect runs once on a thread of its own (it may wait for the client).
// - The pump's reader thread ("IPC Reader") runs OnCompletion: every read,
//   the cut into messages and every callback except EVENT_DISCONNECTED. The
//   input side (input context, input buffer, reader) has no lock: only that
//   thread touches it while the pump runs.
// - Any thread: Send (output lock) and Close (close lock, then output lock).
// - close_lock_ serialises Close with Connect's use of the pump and the pipe;
//   it is the only lock held while Close joins the reader thread, and the
//   reader thread never takes it, so a callback may call Send.
// - output_lock_ guards the output queue, the output context and the pipe
//   handle's replacement; it is never held while the reader thread is joined.
// - EVENT_DISCONNECTED is delivered on the thread that calls Close (or
//   releases the last reference), after all locks are released. A callback
//   must not close or release the channel from the reader thread: closing
//   joins that thread.
#ifndef QUENLO_PIPECHANNEL_H
#define QUENLO_PIPECHANNEL_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/Common/BrisqRefCount.h"
#include "BrisqFramework/IO/BrisqMessagePumpIO.h"
#include "Quenlo/PipeChannelReader.h"
#include "Quenlo/Quenlo.h"
#include "Quenlo/message/IPCMessage.h"

namespace Quenlo {

// (event as IPC_EVENT_TYPE, message type, data, data length, context). Only
// EVENT_MESSAGE carries a type and data; the other events pass 0, null, 0.
// `data` is valid only during the call.
typedef void (*ChannelCallback)(uint32_t event, uint32_t type, const char* data, uint32_t length,
                                void* context);

class PipeChannel : public BrisqFramework::BrisqRefCount<PipeChannel>,
                    public BrisqFramework::IO::BrisqMessagePumpIO::Observer,
                    private PipeChannelReader::Delegate {
 public:
  enum Mode : uint32_t {
    kModeServer = 1,
    kModeClient = 2,
  };
  enum State : uint32_t {
    kStateOpening = 0,    // after Open
    kStateConnected = 1,  // the peer's hello arrived
    kStateBroken = 2,     // I/O failure or unreadable internal message
    kStateClosed = 3,     // Close ran (also after a failed Open)
  };

  // The name field holds 130 UTF-16 units with the terminating NUL.
  static constexpr size_t kMaxNameLength = kMaxPipeNameLength;
  // Each direction's pipe buffer, and the most one read delivers.
  static constexpr DWORD kPipeBufferSize = 4096;
  // How long the client keeps trying to reach the server's pipe.
  static constexpr ULONGLONG kConnectDeadlineMs = 30000;

  // Logs INFO "[PipeChannel] constructor".
  PipeChannel();
  // Closes the channel (EVENT_DISCONNECTED unless already closed), logs INFO
  // "[PipeChannel] destructor" and releases the pump.
  ~PipeChannel() override;

  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  // Stores the callback and its context. No locking: set it before Open.
  void SetCallback(ChannelCallback callback, void* context);

  // Creates the server end (mode 1) or opens the client end (mode 2; keeps
  // trying for up to 30 s) of "\\.\pipe\ipc." + `name` (null = empty) and
  // queues the hello, the first message this side writes. On failure the
  // channel is closed (EVENT_DISCONNECTED if a callback is set) and false
  // returned. Names longer than kMaxNameLength and modes other than 1 and 2
  // are refused the same way; a channel that still holds a pipe refuses
  // without closing.
  bool Open(const wchar_t* name, uint32_t mode);

  // Starts the pump, registers the pipe with it, waits for the client (server
  // mode, until one connects or Close) and starts writing and reading. False
  // without a pipe, when the pump cannot start or the pipe cannot be
  // registered, and when the channel was closed meanwhile. The channel must
  // outlive the call; Close makes a waiting Connect return.
  bool Connect();

  // Queues one message of `type` whose payload is one data blob of `length`
  // bytes and starts writing it unless a write is outstanding; messages go
  // out in the order of the Send calls. False without a pipe, when the data
  // cannot be framed (null with a length, more than 128 MiB on the wire: the
  // peer would refuse it) or when starting the write fails (the message
  // stays queued).
  bool Send(uint32_t type, const void* data, uint32_t length);

  // Stops the pump (joining the reader thread), cancels and drains the
  // pipe's I/O, closes the pipe and reports EVENT_DISCONNECTED; exactly once
  // until the next Open. Then, always, empties the output queue and logs
  // INFO "[PipeChannel] Close". Must not be called on the reader thread.
  void Close();

  // The pump's completion entry (reader thread only).
  void OnCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) override;

  State GetState() const { return static_cast<State>(state_.load()); }
  // Messages queued and not yet completely written.
  size_t QueuedMessages();
  // "\\.\pipe\ipc." + name.
  static std::wstring PipePath(const wchar_t* name);

  // The system call that makes the server end (CreateNamedPipeW's
  // signature). Test seam: a test installs its own to see the arguments the
  // channel passes, for rules Wine does not enforce (remote clients are
  // never refused there); null restores the system's. Linked into white-box
  // tests only; Quenlo.dll exports nothing that reaches it.
  using CreateNamedPipeFunction = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                  LPSECURITY_ATTRIBUTES);
  static void SetCreateNamedPipeForTesting(CreateNamedPipeFunction create);

  // For tests only: how long Open keeps trying to reach the server (default
  // kConnectDeadlineMs). Hosts cannot reach it: only Quenlo.h is exported.
  // Owner's thread, before Open.
  void SetConnectDeadlineForTesting(ULONGLONG ms) { connect_deadline_ms_ = ms; }

 private:
  // A pipe end: INVALID_HANDLE_VALUE (or null) is none.
  using PipeHandle = BrisqFramework::BrisqFileHandle;

  // One direction's I/O: the overlapped record lives here, alive until the
  // I/O completes (Close drains it before anything is freed).
  struct IOContext {
    OVERLAPPED overlapped;
    uint32_t kind = 0;                  // kKindRead, kKindWrite, or anything else (nothing issued)
    bool pending = false;               // an issued I/O has not completed through the port yet
    BrisqFramework::BrisqHandle event;  // auto-reset, made at first use
    void Clear();
    // Zeroes the overlapped record for a new I/O and attaches the event.
    bool Prepare(uint32_t new_kind);
  };

  static constexpr uint32_t kKindAccept = 1;
  static constexpr uint32_t kKindRead = 16;
  static constexpr uint32_t kKindWrite = 17;

  bool CreateServerPipe(const std::wstring& path);
  bool ConnectClientPipe(const std::wstring& path);
  void QueueHello();

  // Accepting the client, in two halves so that Close can cancel the wait:
  // BeginAccept (close lock held) issues the connect; FinishAccept (no lock)
  // waits for it. Both return false on failure after their log line.
  enum class AcceptStart { kFailed, kConnected, kPending };
  AcceptStart BeginAccept(OVERLAPPED* overlapped);
  bool FinishAccept(OVERLAPPED* overlapped, HANDLE pipe, HANDLE event);

  // Output path; the caller holds output_lock_. `finished` is the context
  // of a completed write or null, `bytes` its byte count.
  bool WriteNextMessage(IOContext* finished, DWORD bytes);

  // Input path (reader thread). On failure *failure_error is 109 when the
  // pipe turned out to be closed by the peer, else left alone.
  bool ReadLoop(DWORD* failure_error);
  bool IssueRead(DWORD* bytes_read, DWORD* failure_error);

  void HandleInputCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error);
  void HandleOutputCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error);
  // The failure tail: state broken and EVENT_BROKEN (silent for error 109).
  void OnBroken(DWORD error);

  void ReleaseResources();
  void Notify(uint32_t event, uint32_t type = 0, const char* data = nullptr, uint32_t length = 0);

  // PipeChannelReader::Delegate (reader thread).
  void OnHello(int32_t peer_process_id) override;
  void OnInternalBroken() override;
  void OnUserMessage(uint32_t type, const char* data, uint32_t length) override;

  wchar_t name_[kMaxNameLength + 1] = {};
  ULONGLONG connect_deadline_ms_ = kConnectDeadlineMs;  // owner's thread
  std::atomic<bool> waiting_for_client_{false};
  char input_buffer_[kPipeBufferSize];  // reader thread
  std::atomic<uint32_t> state_{kStateOpening};
  ChannelCallback callback_ = nullptr;
  void* context_ = nullptr;
  PipeChannelReader reader_{this};  // the overflow buffer; reader thread
  IOContext input_;                 // reader thread
  IOContext output_;                // output_lock_
  // Start signals posted by Connect. Records of their own, so a signal can
  // never be taken for the completion of real I/O on a context.
  OVERLAPPED input_start_ = {};
  OVERLAPPED output_start_ = {};
  BrisqFramework::BrisqHandle connect_event_;  // close_lock_
  // Manual-reset; set once an accept no longer touches the pipe or the
  // connect event, so that Close may free them.
  BrisqFramework::BrisqHandle accept_done_;
  bool accepting_ = false;  // close_lock_
  PipeHandle pipe_;         // replaced under close_lock_ + output_lock_
  BrisqFramework::BrisqLock close_lock_;
  BrisqFramework::BrisqLock output_lock_;
  // Owned messages; the front one is being written. output_lock_.
  std::deque<std::unique_ptr<Ravoque::IPCMessage>> output_queue_;
  // Set when the output start signal has been handled: before that the pipe
  // may not be registered with the pump yet, so no write may start. output_lock_.
  bool output_started_ = false;
  BrisqFramework::IO::BrisqMessagePumpIO pump_;
};

}  // namespace Quenlo

#endif  // QUENLO_PIPECHANNEL_H
