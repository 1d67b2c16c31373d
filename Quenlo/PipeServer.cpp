#include "Quenlo/PipeServer.h"

#include <windows.h>

#include <utility>

#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogFile.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/MessageLogThrottle.h"
#include "Quenlo/PipeLimits.h"

namespace Quenlo {

using BrisqFramework::BrisqAutoLock;
using BrisqFramework::BrisqErrorText;
using BrisqFramework::BrisqRef;

namespace {

int64_t CounterNow() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t CounterFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return frequency;
}

}  // namespace

// --- Reader threads -------------------------------------------------------------

void PipeServer::PipeItem::ReadVideo() {
  for (;;) {
    const bool woke = videoSemaphore.Wait();
    // Teardown sets stopping before it releases the semaphore.
    if (server->stopping_.load()) return;
    if (!woke) {
      ::Sleep(1);  // a failing wait must not spin a core
      continue;
    }
    PipeMemoryVideo* video = m_video.Get();
    if (video == nullptr) return;
    if (video->IsEmpty() && !video->Open()) {
      BRISQ_LOG_AT(ERROR) << "Failed to ReadVideo(memory can't open)";
      return;
    }
    MediaPacket packet;
    if (video->ReadPacket(&packet)) {
      server->NotifyHost(EVENT_PACKET, 0, reinterpret_cast<const char*>(&packet),
                         static_cast<uint32_t>(sizeof(packet)));
    }
  }
}

void PipeServer::PipeItem::ReadAudio() {
  for (;;) {
    const bool woke = audioSemaphore.Wait();
    if (server->stopping_.load()) return;
    if (!woke) {
      ::Sleep(1);
      continue;
    }
    PipeMemoryAudio* audio = m_audio.Get();
    if (audio == nullptr) return;
    if (audio->IsEmpty() && !audio->Open()) {
      BRISQ_LOG_AT(ERROR) << "Failed to ReadAudio(memory can't open)";
      return;
    }
    MediaPacket packet;
    bool took_slot = false;
    if (audio->ReadPacket(&packet, &took_slot)) {
      server->NotifyHost(EVENT_PACKET, 0, reinterpret_cast<const char*>(&packet),
                         static_cast<uint32_t>(sizeof(packet)));
    }
    // The writer of WritePacket waits for this before its next packet, also
    // for a slot that was refused: it must not wait out its whole time-out.
    if (took_slot && audio->AckRequested()) audioEvent.SetEvent();
  }
}

// --- Construction and IMSUnknown -----------------------------------------------------

PipeServer::PipeServer() : RefCountedInterface(0, IID_IPipeServer) {
  BRISQ_LOG(INFO) << "[PipeServer] constructor";
  if (!runner_.Open()) BRISQ_LOG_AT(ERROR) << "Failed to open runner";
}

PipeServer::~PipeServer() {
  // Tasks still queued are dropped by Close; whatever they would have torn
  // down is torn down here, so that no listen thread, channel reader or
  // item reader is left running on this object once it is freed.
  const auto runner_state = runner_.GetState();
  if (runner_state == BrisqFramework::IO::BrisqSingleRunner::kStarting ||
      runner_state == BrisqFramework::IO::BrisqSingleRunner::kRunning) {
    runner_.Close();
  }
  if (HasOpenState()) Teardown();
  BRISQ_LOG(INFO) << "[PipeServer] destructor";
}

void PipeServer::OnLastRelease() { BRISQ_LOG(INFO) << "[PipeServer] OnRelease"; }

// --- Simple operations -------------------------------------------------------------

uint32_t PipeServer::IsConnected() { return connected_.load() ? 1 : 0; }

void PipeServer::SetCallback(PipeCallback callback, void* context) {
  BRISQ_LOG(INFO) << "[PipeServer] SetCallback";
  context_.store(context);
  callback_.store(callback);
}

int32_t PipeServer::OpenLogFile(const wchar_t* path) try {
  return BrisqFramework::SetLogFile(path) ? 1 : 0;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to PipeServer::OpenLogFile");
  return 0;
}

int32_t PipeServer::SendMessage(uint32_t type, const char* data, uint32_t length) try {
  BrisqAutoLock hold(state_lock_);
  if (!channel_) {
    BRISQ_LOG_AT(ERROR) << "Failed to SendMessage(invalid channel)";
    return 0;
  }
  if (data == nullptr || length == 0) {
    BRISQ_LOG_AT(ERROR) << "Failed to SendMessage(invalid parameter)";
    return 0;
  }
  return channel_->Send(type, data, length) ? 1 : 0;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to PipeServer::SendMessage");
  return 0;
}

// --- Open, Close and the lifecycle tasks -----------------------------------------------

int32_t PipeServer::Open(const wchar_t* name, uint32_t channels) try {
  BRISQ_LOG(INFO) << "[PipeServer] Open(begin...)";
  connected_ = false;
  // The stopping flag is the tasks' own: cleared here, it could let a reader
  // that a running teardown is waiting for go back to sleep.
  const std::wstring task_name = name != nullptr ? name : L"";
  const bool queued =
      runner_.Submit([this, task_name, channels] { OpenTask(task_name, channels); });
  BRISQ_LOG(INFO) << "[PipeServer] Open(end...) res = " << (queued ? 1 : 0);
  return 1;
} catch (...) {
  // Open reports nothing to the host: the open task was not queued.
  BRISQ_LOG_CAUGHT("Failed to PipeServer::Open");
  return 1;
}

void PipeServer::Close() try {
  BRISQ_LOG(INFO) << "[PipeServer] Close(begin...) ";
  connected_ = false;
  runner_.Submit([this] { DestroyTask(); });
  BRISQ_LOG(INFO) << "[PipeServer] Close(end...) ";
} catch (...) {
  // The destroy task was not queued; the last Release still tears down.
  BRISQ_LOG_CAUGHT("Failed to PipeServer::Close");
}

void PipeServer::OpenTask(const std::wstring& name, uint32_t channels) {
  // Refused before anything is made: the channel's name field holds 129
  // characters and a shortened name would meet another pipe's objects; each
  // channel costs kernel objects and, once connected, two threads.
  if (name.size() > PipeChannel::kMaxNameLength) {
    BRISQ_LOG_AT(ERROR) << "Failed to Open(pipe name too long)";
    return;
  }
  if (channels > kMaxPipeChannels) {
    BRISQ_LOG_AT(ERROR) << "Failed to Open(too many channels)";
    return;
  }
  // A second Open replaces the first: two sets of items would run two
  // readers on every ring, and the old pipe would keep listening.
  if (HasOpenState()) Teardown();

  stopping_ = false;
  name_ = name;
  channel_count_ = channels;
  {
    BrisqAutoLock hold(items_lock_);
    for (uint32_t i = 0; i < channel_count_; ++i) {
      BrisqRef<PipeItem> item(new PipeItem(this));
      item->index = static_cast<int32_t>(i);
      // Objects only: the readers map the rings on their first wake-up.
      item->m_audio = BrisqRef<PipeMemoryAudio>(
          new PipeMemoryAudio(PipeMemoryAudio::MappingName(item->index, name_.c_str()).c_str()));
      item->m_video = BrisqRef<PipeMemoryVideo>(
          new PipeMemoryVideo(PipeMemoryVideo::MappingName(item->index, name_.c_str()).c_str()));
      items_.push_back(std::move(item));
    }
  }
  BRISQ_LOG(INFO) << "[PipeServer] Create(begin,...)";
  if (!CreateChannel()) return;
  BRISQ_LOG(INFO) << "[PipeServer] Create(end,...)";
}

void PipeServer::DestroyTask() { Teardown(); }

void PipeServer::RebuildTask() {
  {
    // Only the break of the current pipe is mended. A Close or an Open that
    // ran since the break has dealt with that pipe already (the server must
    // not listen again after Close), and a pipe that broke twice is rebuilt
    // once.
    BrisqAutoLock hold(state_lock_);
    if (!channel_ || channel_->GetState() != PipeChannel::kStateBroken) return;
  }
  BRISQ_LOG(INFO) << "[PipeServer] Recreate(begin,...)";
  stopping_ = true;
  // The broken pipe goes first: once its reader thread is joined no late
  // event can start readers while they are being joined below.
  TakeDownChannel();
  TakeDownItems(false);
  stopping_ = false;
  if (!CreateChannel()) return;
  BRISQ_LOG(INFO) << "[PipeServer] Recreate(end,...)";
}

void PipeServer::Teardown() {
  BRISQ_LOG(INFO) << "[PipeServer] Destroy(begin,...)";
  stopping_ = true;
  TakeDownChannel();
  // The channel is closed: nothing can report EVENT_CONNECTED any more.
  connected_ = false;
  TakeDownItems(true);
  BRISQ_LOG(INFO) << "[PipeServer] Destroy(end,...)";
}

bool PipeServer::HasOpenState() {
  {
    BrisqAutoLock hold(state_lock_);
    if (channel_) return true;
  }
  {
    BrisqAutoLock hold(items_lock_);
    if (!items_.empty()) return true;
  }
  return listen_thread_.HasThread();
}

bool PipeServer::CreateChannel() {
  BrisqRef<PipeChannel> channel(new PipeChannel());
  channel->SetCallback(&PipeServer::OnChannelEvent, this);
  const bool opened = channel->Open(name_.c_str(), PipeChannel::kModeServer);
  {
    // Installed whether or not it opened: a failed channel stays the
    // server's (closed) channel until the next Open or Close.
    BrisqAutoLock hold(state_lock_);
    channel_ = channel;
  }
  if (!opened) {
    BRISQ_LOG_AT(ERROR) << "Failed to Create";
    return false;
  }
  // The thread holds its own reference while Connect runs (it waits for
  // the client, possibly past a Close), and lets it go when Connect
  // returns. A thread that cannot start has logged its failure.
  listen_thread_.Submit([channel]() mutable {
    channel->Connect();
    channel.Reset();
  });
  return true;
}

void PipeServer::TakeDownChannel() {
  BrisqRef<PipeChannel> channel;
  {
    BrisqAutoLock hold(state_lock_);
    channel.Swap(channel_);
  }
  // Without any lock: closing joins the channel's reader thread, whose
  // callback may be waiting in SendMessage for the state lock. Sends
  // meanwhile find no channel and fail.
  if (channel) channel->Close();  // ends a pending Connect; EVENT_DISCONNECTED
  channel.Reset();
  if (listen_thread_.HasThread()) listen_thread_.Close(INFINITE);
}

void PipeServer::TakeDownItems(bool drop_items) {
  std::vector<BrisqRef<PipeItem>> items;
  {
    BrisqAutoLock hold(items_lock_);
    if (drop_items) {
      items.swap(items_);
    } else {
      items = items_;
    }
  }
  // Readers are joined without a lock: they run the host's callback.
  for (const BrisqRef<PipeItem>& item : items) {
    // A client waiting for an audio acknowledgement goes on.
    if (drop_items) item->audioEvent.SetEvent();
    item->audioSemaphore.Release();  // wakes the reader, which sees stopping
    if (item->audioReader.HasThread()) item->audioReader.Close(INFINITE);
    item->audioSemaphore.Close();
    item->videoSemaphore.Release();
    if (item->videoReader.HasThread()) item->videoReader.Close(INFINITE);
    item->videoSemaphore.Close();
    if (!drop_items) item->audioEvent.SetEvent();
    item->audioEvent.Close();
    if (item->m_audio) item->m_audio->Close();
    if (item->m_video) item->m_video->Close();
    if (drop_items) {
      item->m_audio.Reset();
      item->m_video.Reset();
    }
  }
}

// --- Events ----------------------------------------------------------------------

void PipeServer::OnChannelEvent(uint32_t event, uint32_t type, const char* data, uint32_t length,
                                void* context) {
  static_cast<PipeServer*>(context)->HandleEvent(event, type, data, length);
}

void PipeServer::HandleEvent(uint32_t event, uint32_t type, const char* data, uint32_t length) {
  switch (event) {
    case EVENT_CONNECTED:
      BRISQ_LOG(INFO) << "[PipeServer] EVENT_CONNECTED";
      connected_ = true;
      StartReaders();
      break;
    case EVENT_BROKEN:
      BRISQ_LOG(INFO) << "[PipeServer] EVENT_BROKEN";
      connected_ = false;
      // While stopping, the teardown under way closes this pipe anyway; a
      // task queued now would run after it, and could take down what a
      // later Open made.
      if (!stopping_.load()) {
        try {
          runner_.Submit([this] { RebuildTask(); });
        } catch (...) {
          BRISQ_LOG_CAUGHT("Failed to PipeServer::Rebuild");
        }
      }
      break;
    case EVENT_DISCONNECTED:
      BRISQ_LOG(INFO) << "[PipeServer] EVENT_DISCONNECTED";
      break;
    case EVENT_MESSAGE:
      LogMessageEvent(type);
      break;
    default:
      break;
  }
  NotifyHost(event, type, data, length);
}

void PipeServer::StartReaders() {
  BrisqAutoLock hold(items_lock_);
  for (const BrisqRef<PipeItem>& item : items_) {
    const int32_t i = item->index;
    const uint32_t index = static_cast<uint32_t>(i);
    // A repeated hello on the same pipe starts nothing: a second reader on a
    // ring would split its packets, and reopening a semaphore would close
    // the handle the first reader waits on.
    if (!item->VideoReaderStarted()) {
      if (item->videoSemaphore.Open(
              ChannelObjectName(kVideoSemaphoreKind, index, name_.c_str()).c_str())) {
        item->videoReader.SubmitEx(item.Get(), &PipeItem::ReadVideo);
      } else {
        const DWORD error = ::GetLastError();
        BRISQ_LOG_AT(ERROR) << "Failed to OpenSemaphoreW(" << BrisqErrorText(error) << ", " << i
                            << ")";
      }
    }
    if (!item->AudioReaderStarted()) {
      if (item->audioSemaphore.Open(
              ChannelObjectName(kAudioSemaphoreKind, index, name_.c_str()).c_str()) &&
          item->audioEvent.OpenEvent(
              ChannelObjectName(kAudioEventKind, index, name_.c_str()).c_str())) {
        item->audioReader.SubmitEx(item.Get(), &PipeItem::ReadAudio);
      } else {
        const DWORD error = ::GetLastError();
        BRISQ_LOG_AT(ERROR) << "Failed to OpenSemaphoreW or OpenEvent(" << BrisqErrorText(error)
                            << ", " << i << ")";
      }
    }
  }
}

void PipeServer::LogMessageEvent(uint32_t type) {
  if (ProcessMessageLogThrottle().ShouldLog(CounterNow(), CounterFrequency())) {
    BRISQ_LOG(INFO) << "[PipeServer] EVENT_MESSAGE , msgId = " << static_cast<long long>(type);
  }
}

void PipeServer::NotifyHost(uint32_t event, uint32_t type, const char* data, uint32_t length) {
  const PipeCallback callback = callback_.load();
  if (callback == nullptr) return;
  // A host callback that throws loses that event; our thread goes on.
  try {
    callback(static_cast<IPC_EVENT_TYPE>(event), type, data, length, context_.load());
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to PipeServer::NotifyHost");
  }
}

}  // namespace Quenlo
