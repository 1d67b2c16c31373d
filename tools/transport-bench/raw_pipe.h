// raw_pipe.h - one end of a bare named pipe, the benchmark's baseline: byte
// mode, overlapped I/O, 4096-byte buffers each way, one operation in flight
// per direction, each call waiting for its own completion on its own event.
// It opens and creates the pipe with the same modes and flags as the
// library's channel, without the library's queue, completion port and
// framing.
//
// One thread uses an end at a time (reads and writes may come from two
// different threads, since each direction has its own record).
#ifndef TRANSPORT_BENCH_RAW_PIPE_H
#define TRANSPORT_BENCH_RAW_PIPE_H

#include <windows.h>

#include <string>

#include "win_handles.h"

namespace transport_bench {

class RawPipe {
 public:
  static constexpr DWORD kBufferSize = 4096;

  RawPipe() = default;
  // Cancels a connect still in flight and waits for it, so that the system
  // never writes into a freed OVERLAPPED.
  ~RawPipe();
  RawPipe(const RawPipe&) = delete;
  RawPipe& operator=(const RawPipe&) = delete;

  // Server end: creates "\\.\pipe\" + name (duplex, overlapped,
  // write-through, byte mode, one instance) and starts an overlapped
  // connect. False when the pipe cannot be created.
  bool Create(const std::wstring& name);
  // Server end: waits up to timeout_ms for the connect started by Create.
  bool Accept(DWORD timeout_ms);
  // Client end: opens "\\.\pipe\" + name (write-through, overlapped, no
  // buffering), retrying every millisecond while it does not exist yet,
  // for up to timeout_ms; sets byte read mode.
  bool Open(const std::wstring& name, DWORD timeout_ms);

  // From here on every completion is taken from a completion port bound to
  // the pipe, as the library's pump does, instead of from the operation's
  // event; then only one operation may be in flight at a time. False when
  // the port cannot be made.
  bool UseCompletionPort();

  // Writes all `size` bytes and waits until the write completed.
  bool Write(const void* data, DWORD size);
  // One read of at most `capacity` bytes; waits for it. 0 when the pipe
  // broke or failed.
  DWORD Read(void* buffer, DWORD capacity);
  // Reads exactly `size` bytes (several reads if needed).
  bool ReadExact(void* buffer, DWORD size);

 private:
  bool Wait(OVERLAPPED* overlapped, BOOL started, DWORD* transferred);

  UniqueFile pipe_;
  UniqueHandle port_;         // set by UseCompletionPort
  UniqueHandle read_event_;   // manual-reset, for the read in flight
  UniqueHandle write_event_;  // manual-reset, for the write in flight
  UniqueHandle connect_event_;
  OVERLAPPED connect_{};
  bool connect_pending_ = false;  // connect_ is in flight
};

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_RAW_PIPE_H
