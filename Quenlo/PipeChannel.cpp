#include "Quenlo/PipeChannel.h"

#include <atomic>
#include <cwchar>
#include <utility>

#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/Quenlo.h"

namespace Quenlo {

namespace {

using BrisqFramework::BrisqAutoLock;
using BrisqFramework::BrisqErrorText;
using Ravoque::IPCMessage;

// The callback and the log texts pass 109 on for a pipe the peer closed.
static_assert(ERROR_BROKEN_PIPE == 109, "EVENT_BROKEN's silent case is error 109");
// "Pipe error zero [..]" reports whether OVERLAPPED::Internal left this value.
static_assert(STATUS_PENDING == 259, "the log's pending test");
constexpr DWORD kServerOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_WRITE_THROUGH;
static_assert(kServerOpenMode == 0xC0000003, "the server end's open mode");
// Byte type, byte read mode, blocking; and never a client from another
// machine: the frames travel through this machine's shared memory, and the
// pipe's open access list must not reach the network.
constexpr DWORD kServerPipeMode =
    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
constexpr DWORD kClientFlags =
    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING;
constexpr DWORD kPipeDefaultTimeoutMs = 3000;
constexpr DWORD kWaitNamedPipeMs = 3000;

// Failure texts take the error code before the log record is built, since
// building it may change the thread's last error.

// Pipe paths and names in log lines are UTF-8.
std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  return out;
}

// The largest message the peer accepts; a bigger one would break the link.
constexpr uint64_t kMaxWireSize = PipeChannelReader::kMaxMessageSize;

uint64_t WireSizeOfBlob(uint32_t length) {
  return IPCMessage::kHeaderSize + 4 + ((static_cast<uint64_t>(length) + 3) & ~uint64_t(3));
}

// Set only by tests, before the channels that use it exist.
std::atomic<PipeChannel::CreateNamedPipeFunction> g_create_named_pipe{&::CreateNamedPipeW};

}  // namespace

void PipeChannel::SetCreateNamedPipeForTesting(CreateNamedPipeFunction create) {
  g_create_named_pipe.store(create != nullptr ? create : &::CreateNamedPipeW);
}

// --- Small owners --------------------------------------------------------------

void PipeChannel::IOContext::Clear() {
  overlapped = OVERLAPPED{};
  kind = 0;
  pending = false;
}

bool PipeChannel::IOContext::Prepare(uint32_t new_kind) {
  kind = new_kind;
  if (!event.IsValid()) event.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event.Get();
  return event.IsValid();
}

// --- Lifecycle -------------------------------------------------------------------

PipeChannel::PipeChannel() {
  input_.Clear();
  output_.Clear();
  BRISQ_LOG(INFO) << "[PipeChannel] constructor";
}

PipeChannel::~PipeChannel() {
  Close();
  BRISQ_LOG(INFO) << "[PipeChannel] destructor";
}

void PipeChannel::SetCallback(ChannelCallback callback, void* context) {
  callback_ = callback;
  context_ = context;
}

std::wstring PipeChannel::PipePath(const wchar_t* name) {
  return std::wstring(L"\\\\.\\pipe\\ipc.") + (name != nullptr ? name : L"");
}

size_t PipeChannel::QueuedMessages() {
  BrisqAutoLock output(output_lock_);
  return output_queue_.size();
}

bool PipeChannel::Open(const wchar_t* name, uint32_t mode) {
  if (name == nullptr) name = L"";
  {
    // A second Open would leak the pipe and leave the pump on the old one.
    BrisqAutoLock output(output_lock_);
    if (pipe_.IsValid()) {
      BRISQ_LOG_AT(ERROR) << "Failed to Open(pipe already open)";
      return false;
    }
  }
  state_ = kStateOpening;

  // The name must fit its field whole: a cut name would silently meet
  // another pipe.
  const size_t length = ::wcsnlen(name, kMaxNameLength + 1);
  if (length > kMaxNameLength) {
    BRISQ_LOG_AT(ERROR) << "Failed to Open(pipe name too long)";
    Close();
    return false;
  }
  if (mode != kModeServer && mode != kModeClient) {
    BRISQ_LOG_AT(ERROR) << "Failed to Open(invalid mode)";
    Close();
    return false;
  }
  std::wmemcpy(name_, name, length);
  name_[length] = L'\0';

  waiting_for_client_ = (mode == kModeServer);
  {
    BrisqAutoLock output(output_lock_);
    input_.Clear();
    output_.Clear();
    output_started_ = false;
  }
  reader_.Reset();

  const std::wstring path = PipePath(name_);
  const bool opened = (mode == kModeServer) ? CreateServerPipe(path) : ConnectClientPipe(path);
  if (!opened) {
    Close();
    return false;
  }
  QueueHello();
  return true;
}

bool PipeChannel::CreateServerPipe(const std::wstring& path) {
  // A null access list: any local process may connect.
  SECURITY_DESCRIPTOR descriptor;
  if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to InitializeSecurityDescriptor(" << BrisqErrorText(error)
                        << ")";
    return false;
  }
  if (!::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to SetSecurityDescriptorDacl(" << BrisqErrorText(error) << ")";
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = &descriptor;
  // Not inheritable: a child that a host starts with handle inheritance
  // would otherwise keep the server end open after the host is gone, so the
  // panel would never see the break, and the rebuilt pipe could stay busy.
  attributes.bInheritHandle = FALSE;

  const HANDLE pipe =
      g_create_named_pipe.load()(path.c_str(), kServerOpenMode, kServerPipeMode, 1, kPipeBufferSize,
                                 kPipeBufferSize, kPipeDefaultTimeoutMs, &attributes);
  if (pipe == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to CreateNamedPipe(" << BrisqErrorText(error) << ")";
    return false;
  }
  {
    BrisqAutoLock close(close_lock_);
    BrisqAutoLock output(output_lock_);
    pipe_.Reset(pipe);
  }
  BRISQ_LOG(INFO) << "[PipeChannel]Create Server Pipe Success[" << static_cast<void*>(pipe) << "]["
                  << Narrow(path) << "]";
  return true;
}

bool PipeChannel::ConnectClientPipe(const std::wstring& path) {
  const ULONGLONG deadline = ::GetTickCount64() + connect_deadline_ms_;
  const std::string narrow_path = Narrow(path);
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    BRISQ_LOG(INFO) << "Try to connect server[" << narrow_path << "]";
    if (!::WaitNamedPipeW(path.c_str(), kWaitNamedPipeMs)) {
      const DWORD error = ::GetLastError();
      BRISQ_LOG_AT(ERROR) << "WaitNamedPipeW timeout[" << BrisqErrorText(error) << "]";
      if (error == 0 || error == ERROR_FILE_NOT_FOUND) {
        if (::GetTickCount64() > deadline) {
          BRISQ_LOG_AT(ERROR) << "ipc connect timeout";
          return false;
        }
        ::Sleep(1);
        continue;
      }
      // Any other failure of the wait: try the open anyway.
    }
    pipe = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         kClientFlags, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_PIPE_BUSY) {
      BRISQ_LOG_AT(ERROR) << "Failed to CreateFile(" << BrisqErrorText(error) << ")";
      return false;
    }
    ::Sleep(1);
    if (::GetTickCount64() > deadline) {
      BRISQ_LOG_AT(ERROR) << "ipc connect timeout";
      return false;
    }
  }
  {
    BrisqAutoLock close(close_lock_);
    BrisqAutoLock output(output_lock_);
    pipe_.Reset(pipe);  // owned from here on; a failure below is closed by Close
  }
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  if (!::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Failed to SetNamedPipeHandleState(" << BrisqErrorText(error) << ")";
    return false;
  }
  BRISQ_LOG(INFO) << "Open Client Pipe Success[" << static_cast<void*>(pipe) << "]";
  return true;
}

void PipeChannel::QueueHello() {
  std::unique_ptr<IPCMessage> hello(new IPCMessage(IPCMessage::kTypeHello));
  hello->WriteInt(static_cast<int32_t>(IPCMessage::CurrentProcessId()));
  {
    BrisqAutoLock output(output_lock_);
    output_queue_.push_back(std::move(hello));
  }
  BRISQ_LOG(INFO) << "hello message inserted";
}

bool PipeChannel::Connect() {
  OVERLAPPED accept_overlapped = {};
  HANDLE accept_pipe = nullptr;
  HANDLE accept_event = nullptr;
  bool accept_pending = false;
  {
    BrisqAutoLock close(close_lock_);
    if (!pipe_.IsValid()) {
      BRISQ_LOG_AT(ERROR) << "Can't connect(Pipe is empty)";
      return false;
    }
    if (pump_.Port() != nullptr) pump_.Close();
    if (!pump_.Open()) {
      BRISQ_LOG_AT(ERROR) << "Failed to Open";
      return false;
    }
    if (waiting_for_client_) {
      switch (BeginAccept(&accept_overlapped)) {
        case AcceptStart::kPending:
          accept_pending = true;
          accept_pipe = pipe_.Get();
          accept_event = connect_event_.Get();
          break;
        case AcceptStart::kFailed:
          BRISQ_LOG_AT(ERROR) << "Failed to ProcessConnection";
          break;
        case AcceptStart::kConnected:
          break;
      }
    }
  }

  if (accept_pending) {
    // Without the close lock: Close cancels this wait. Until accept_done_ is
    // set, Close keeps the pipe and the event open for us.
    const bool accepted = FinishAccept(&accept_overlapped, accept_pipe, accept_event);
    ::SetEvent(accept_done_.Get());
    if (!accepted) BRISQ_LOG_AT(ERROR) << "Failed to ProcessConnection";
  }

  BrisqAutoLock close(close_lock_);
  accepting_ = false;
  if (GetState() == kStateClosed || !pipe_.IsValid()) return false;  // closed meanwhile
  if (!pump_.Register(pipe_.Get(), this)) return false;
  if (!waiting_for_client_) pump_.PostTask(&output_start_, this);
  pump_.PostTask(&input_start_, this);
  return true;
}

PipeChannel::AcceptStart PipeChannel::BeginAccept(OVERLAPPED* overlapped) {
  input_.pending = false;
  ::SetLastError(0);
  input_.kind = kKindAccept;
  // Manual reset, created non-signalled: the wait below must end only when
  // the connect completes (or is cancelled by Close).
  connect_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!accept_done_.IsValid()) accept_done_.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  *overlapped = OVERLAPPED{};
  overlapped->hEvent = connect_event_.Get();

  const BOOL connected = ::ConnectNamedPipe(pipe_.Get(), overlapped);
  const DWORD error = ::GetLastError();
  if (connected || error == ERROR_PIPE_CONNECTED) {
    // The client came between creating the pipe and this call.
    waiting_for_client_ = false;
    ::SetEvent(connect_event_.Get());
    return AcceptStart::kConnected;
  }
  if (error == ERROR_IO_PENDING) {
    BRISQ_LOG(INFO) << "ConnectNamedPipe(IO_PENDING)";
    accepting_ = true;
    ::ResetEvent(accept_done_.Get());
    return AcceptStart::kPending;
  }
  if (error == ERROR_NO_DATA) {
    BRISQ_LOG_AT(ERROR) << "Failed to ConnectNamedPipe [ ERROR_NO_DATA ]";
  } else {
    BRISQ_LOG_AT(ERROR) << "Failed to ConnectNamedPipe [ " << error << "]";
  }
  return AcceptStart::kFailed;
}

bool PipeChannel::FinishAccept(OVERLAPPED* overlapped, HANDLE pipe, HANDLE event) {
  const DWORD waited = ::WaitForSingleObjectEx(event, INFINITE, TRUE);
  if (waited == WAIT_OBJECT_0) {
    DWORD unused = 0;
    if (::GetOverlappedResult(pipe, overlapped, &unused, FALSE)) {
      waiting_for_client_ = false;
      return true;
    }
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "ConnectNamedPipe (" << error << ")\n";
    return false;
  }
  if (waited == WAIT_IO_COMPLETION) {
    BRISQ_LOG_AT(WARNING) << "un expced io completion";
  } else {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "WaitForSingleObjectEx (" << error << ")\n";
  }
  // The connect may still be in flight and write to `overlapped`, which
  // lives on this thread's stack: end it before leaving.
  ::CancelIoEx(pipe, overlapped);
  DWORD unused = 0;
  ::GetOverlappedResult(pipe, overlapped, &unused, TRUE);
  return false;
}

void PipeChannel::Close() {
  bool report = false;
  {
    BrisqAutoLock close(close_lock_);
    if (GetState() != kStateClosed) {
      if (pump_.ThreadId() != 0 && pump_.ThreadId() == ::GetCurrentThreadId()) {
        // Closing joins the reader thread: from that thread it would never
        // return.
        BRISQ_LOG_AT(ERROR) << "Failed to Close(called on the reader thread)";
        return;
      }
      if (accepting_ && pipe_.IsValid()) {
        // Ends a Connect that waits for its client; it lets go of the pipe
        // and the connect event before accept_done_ is set.
        ::CancelIoEx(pipe_.Get(), nullptr);
        ::WaitForSingleObject(accept_done_.Get(), INFINITE);
      }
      ReleaseResources();
      state_ = kStateClosed;
      report = true;
    }
  }
  // Outside the locks: the callback may Send (refused now) or look at us.
  if (report) Notify(EVENT_DISCONNECTED);
  {
    BrisqAutoLock output(output_lock_);
    output_queue_.clear();
  }
  BRISQ_LOG(INFO) << "[PipeChannel] Close";
}

void PipeChannel::ReleaseResources() {
  // Caller holds close_lock_. The pump goes first: once its thread is joined
  // nothing dequeues completions any more, so cancelled I/O below cannot
  // reach the reader as failures, and the input side is ours.
  pump_.Close();
  connect_event_.Reset();
  {
    BrisqAutoLock output(output_lock_);
    if (pipe_.IsValid()) {
      ::CancelIoEx(pipe_.Get(), nullptr);
      // The overlapped records are members: wait until the system is done
      // with them before the channel can go away.
      for (IOContext* context : {&input_, &output_}) {
        if (context->pending) {
          DWORD unused = 0;
          ::GetOverlappedResult(pipe_.Get(), &context->overlapped, &unused, TRUE);
        }
      }
    }
    pipe_.Reset();
    input_.Clear();
    output_.Clear();
    input_.event.Reset();
    output_.event.Reset();
    output_queue_.clear();
    output_started_ = false;
  }
  reader_.Reset();
}

// --- Output path -----------------------------------------------------------------

bool PipeChannel::Send(uint32_t type, const void* data, uint32_t length) {
  BrisqAutoLock output(output_lock_);
  if (!pipe_.IsValid()) {
    BRISQ_LOG_AT(WARNING) << "Can't send msg(Pipe is empty)";
    return false;
  }
  if (data == nullptr && length != 0) {
    BRISQ_LOG_AT(ERROR) << "Failed to Send(invalid parameter)";
    return false;
  }
  if (WireSizeOfBlob(length) > kMaxWireSize) {
    BRISQ_LOG_AT(ERROR) << "Failed to Send(message too large)";
    return false;
  }
  std::unique_ptr<IPCMessage> message(new IPCMessage(type));
  if (!message->WriteData(data, length)) {
    BRISQ_LOG_AT(ERROR) << "Failed to Send(invalid parameter)";
    return false;
  }
  output_queue_.push_back(std::move(message));
  if (!waiting_for_client_ && output_started_ && !output_.pending) {
    if (!WriteNextMessage(nullptr, 0)) {
      BRISQ_LOG_AT(ERROR) << "Failed to WriteMessages";
      return false;
    }
  }
  return true;
}

bool PipeChannel::WriteNextMessage(IOContext* finished, DWORD bytes) {
  if (output_.pending) {
    output_.pending = false;
    if (finished == nullptr || bytes == 0) {
      const DWORD error = ::GetLastError();
      BRISQ_LOG_AT(ERROR) << "transfered 0 Pipe error: " << error;
      return false;
    }
    output_queue_.pop_front();  // written
  }
  if (!pipe_.IsValid()) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Pipe empty: " << error;
    return false;
  }
  if (output_queue_.empty()) return true;

  output_.Prepare(kKindWrite);
  const IPCMessage& message = *output_queue_.front();
  DWORD written = 0;
  if (::WriteFile(pipe_.Get(), message.Data(), static_cast<DWORD>(message.Size()), &written,
                  &output_.overlapped)) {
    output_.pending = true;  // the completion still arrives through the port
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    output_.pending = true;
    BRISQ_LOG(INFO) << "[IPCWindowChannel] WriteFile IO Pending";
    return true;
  }
  if (error == 0) {
    BRISQ_LOG_AT(ERROR) << "Pipe error zero ["
                        << (output_.overlapped.Internal != STATUS_PENDING ? 1 : 0) << "]";
    return false;
  }
  BRISQ_LOG_AT(ERROR) << "Pipe error: " << error;
  return false;
}

// --- Input path ------------------------------------------------------------------

bool PipeChannel::IssueRead(DWORD* bytes_read, DWORD* failure_error) {
  if (!pipe_.IsValid()) {
    const DWORD error = ::GetLastError();
    BRISQ_LOG_AT(ERROR) << "Pipe empty: " << error;
    return false;
  }
  input_.Prepare(kKindRead);
  DWORD count = 0;
  if (::ReadFile(pipe_.Get(), input_buffer_, kPipeBufferSize, &count, &input_.overlapped)) {
    input_.pending = true;  // handled when its completion arrives
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    input_.pending = true;
    return true;
  }
  if (error == ERROR_BROKEN_PIPE) {
    // The peer closed before this read was issued: the same event as a read
    // that completes with 109, and reported the same, quiet way.
    *failure_error = ERROR_BROKEN_PIPE;
    return false;
  }
  if (error != 0) {
    BRISQ_LOG_AT(ERROR) << "Pipe error: " << error;
    return false;
  }
  BRISQ_LOG_AT(WARNING) << "ReadFile Error with gle 0 bytestransfered[" << count << "]["
                        << (input_.overlapped.Internal != STATUS_PENDING ? 1 : 0) << "]";
  *bytes_read = count;
  return true;
}

bool PipeChannel::ReadLoop(DWORD* failure_error) {
  for (;;) {
    DWORD count = 0;
    if (!IssueRead(&count, failure_error)) return false;
    if (input_.pending) return true;
    if (!reader_.TranslateInput(input_buffer_, count)) return false;
  }
}

void PipeChannel::OnCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) {
  try {
    if (error == ERROR_BROKEN_PIPE) {
      OnBroken(error);
      return;
    }
    if (overlapped == &input_start_ || overlapped == &input_.overlapped) {
      HandleInputCompletion(overlapped, bytes, error);
    } else if (overlapped == &output_start_ || overlapped == &output_.overlapped) {
      HandleOutputCompletion(overlapped, bytes, error);
    }
  } catch (...) {
    // Bytes of the stream were lost half way (no memory for them), and no
    // read or write is pending any more: the link cannot go on.
    BRISQ_LOG_CAUGHT("Failed to PipeChannel::OnCompletion");
    if (pipe_.IsValid()) {
      state_ = kStateBroken;
      Notify(EVENT_BROKEN);
    }
  }
}

void PipeChannel::HandleInputCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) {
  DWORD failure = error;
  if (overlapped == &input_start_ || input_.kind != kKindRead) {
    if (!ReadLoop(&failure)) {
      if (failure != ERROR_BROKEN_PIPE)
        BRISQ_LOG_AT(ERROR) << "Failed to OnIOCompleted(ReadMessages)";
      OnBroken(failure);
    }
    return;
  }
  input_.pending = false;
  if (bytes == 0) {
    BRISQ_LOG_AT(ERROR) << "Failed to OnIOCompleted(bytestransfered = " << 0 << ")";
    OnBroken(error);
    return;
  }
  if (pipe_.IsValid() && !reader_.TranslateInput(input_buffer_, bytes)) {
    BRISQ_LOG_AT(ERROR) << "Failed to OnIOCompleted(TranslateInput)";
    OnBroken(error);
    return;
  }
  if (!ReadLoop(&failure)) {
    if (failure != ERROR_BROKEN_PIPE) {
      BRISQ_LOG_AT(ERROR) << "Failed to OnIOCompleted(ProcessInputMessages)";
    }
    OnBroken(failure);
  }
}

void PipeChannel::HandleOutputCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error) {
  bool failed = false;
  {
    BrisqAutoLock output(output_lock_);
    if (overlapped == &output_start_ || output_.kind != kKindWrite) {
      output_started_ = true;
      if (!waiting_for_client_ && !output_.pending && !WriteNextMessage(nullptr, 0)) {
        BRISQ_LOG_AT(ERROR) << "Failed to WriteMessages";
      }
      return;
    }
    if (output_.pending && !WriteNextMessage(&output_, bytes)) {
      BRISQ_LOG_AT(ERROR) << "Failed to OnIOCompleted(ProcessOutputMessages)";
      failed = true;
    }
  }
  if (failed) OnBroken(error);
}

void PipeChannel::OnBroken(DWORD error) {
  if (!pipe_.IsValid()) return;
  if (error != ERROR_BROKEN_PIPE) {
    BRISQ_LOG_AT(ERROR) << "Failed to ProcessMessage(" << BrisqErrorText(error) << ")";
  }
  state_ = kStateBroken;
  Notify(EVENT_BROKEN);
}

void PipeChannel::Notify(uint32_t event, uint32_t type, const char* data, uint32_t length) {
  if (callback_ == nullptr) return;
  // The owner's handler runs the host's code: what it throws ends there.
  try {
    callback_(event, type, data, length, context_);
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to PipeChannel::Notify");
  }
}

// --- Dispatch of cut messages (reader thread) ---------------------------------------

void PipeChannel::OnHello(int32_t /*peer_process_id*/) {
  state_ = kStateConnected;
  Notify(EVENT_CONNECTED);
}

void PipeChannel::OnInternalBroken() {
  state_ = kStateBroken;
  Notify(EVENT_BROKEN);
}

void PipeChannel::OnUserMessage(uint32_t type, const char* data, uint32_t length) {
  Notify(EVENT_MESSAGE, type, data, length);
}

}  // namespace Quenlo
