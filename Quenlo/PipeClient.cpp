#include "Quenlo/PipeClient.h"

#include <cwchar>
#include <memory>
#include <utility>

#include "BrisqFramework/Common/LogException.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/PipeLimits.h"

namespace Quenlo {

using BrisqFramework::BrisqAutoLock;
using BrisqFramework::BrisqLastErrorText;
using BrisqFramework::BrisqRef;

PipeClient::PipeClient() : RefCountedInterface(1, IID_IPipeClient) {}

PipeClient::~PipeClient() {
  // Normally Destroy has done all of this already. Without it, the runner
  // and the connect thread must end before the channel and the items they
  // use go away, and the channel is released while the rest of the object
  // (the event handler's state) still exists.
  const auto runner_state = runner_.GetState();
  if (runner_state == BrisqFramework::IO::BrisqSingleRunner::kStarting ||
      runner_state == BrisqFramework::IO::BrisqSingleRunner::kRunning) {
    runner_.Close();
  }
  if (connect_thread_.HasThread()) connect_thread_.Close(INFINITE);
  BrisqRef<PipeChannel> channel;
  {
    BrisqAutoLock hold(channel_lock_);
    channel.Swap(channel_);
  }
  channel.Reset();
  BrisqAutoLock hold(items_lock_);
  items_.clear();
}

// --- Simple operations -----------------------------------------------------------

uint32_t PipeClient::IsConnected() { return connected_.load() ? 1 : 0; }

void PipeClient::SetCallback(PipeCallback callback, void* context) {
  BRISQ_LOG(INFO) << "[PipeClient] SetCallback...";
  context_.store(context);
  callback_.store(callback);
}

bool PipeClient::GetPipeItem(uint32_t index, BrisqRef<PipeItem>* item) {
  if (item == nullptr) return false;
  BrisqAutoLock hold(items_lock_);
  for (const BrisqRef<PipeItem>& candidate : items_) {
    if (candidate->index == index) {
      *item = candidate;
      return true;
    }
  }
  return false;
}

// --- Create and the setup task -------------------------------------------------------

int32_t PipeClient::Create(const wchar_t* name, uint32_t channels) try {
  connected_ = false;
  if (name == nullptr) name = L"";
  // Refused before anything is made: the channel's name field holds 129
  // characters and a shortened name would meet another pipe's objects; and
  // every channel costs kernel objects made right here, on the caller's
  // thread.
  if (::wcsnlen(name, PipeChannel::kMaxNameLength + 1) > PipeChannel::kMaxNameLength) {
    BRISQ_LOG_AT(ERROR) << "Failed to Create(pipe name too long)";
    return 0;
  }
  if (channels > kMaxPipeChannels) {
    BRISQ_LOG_AT(ERROR) << "Failed to Create(too many channels)";
    return 0;
  }
  channel_count_ = channels;
  name_ = name;

  ::SetLastError(0);
  if (!pipe_mutex_.Create(PipeMutexName(name_).c_str())) {
    BRISQ_LOG_AT(ERROR) << "Failed to CreateMutex(" << BrisqLastErrorText() << ")";
    return 0;
  }

  {
    BrisqAutoLock hold(items_lock_);
    for (uint32_t i = 0; i < channel_count_; ++i) {
      BrisqRef<PipeItem> item(new PipeItem());
      item->index = i;
      if (!item->audioSemaphore.Create(
              ChannelObjectName(kAudioSemaphoreKind, i, name_.c_str()).c_str()) ||
          !item->videoSemaphore.Create(
              ChannelObjectName(kVideoSemaphoreKind, i, name_.c_str()).c_str())) {
        BRISQ_LOG_AT(ERROR) << "[PipeClient] Failed to CreateSemaphore(" << BrisqLastErrorText()
                            << ")";
        return 0;
      }
      if (!item->audioEvent.CreateEvent(
              ChannelObjectName(kAudioEventKind, i, name_.c_str()).c_str())) {
        BRISQ_LOG_AT(ERROR) << "Failed to CreateEvent(" << BrisqLastErrorText() << ")";
        return 0;
      }
      items_.push_back(std::move(item));
    }
  }

  if (!runner_.Open()) return 0;
  // The task gets its own copy of the name: a later Create may change name_.
  const std::wstring task_name = name_;
  return runner_.Submit([this, task_name] { SetupTask(task_name); }) ? 1 : 0;
} catch (...) {
  // What was made stays until Destroy, as after any other failure here.
  BRISQ_LOG_CAUGHT("Failed to PipeClient::Create");
  return 0;
}

void PipeClient::SetupTask(const std::wstring& name) {
  // A channel left by an earlier connect that failed is closed first, and
  // outside the channel lock (closing joins its reader thread).
  BrisqRef<PipeChannel> previous;
  {
    BrisqAutoLock hold(channel_lock_);
    if (connect_thread_.HasThread()) connect_thread_.Close(INFINITE);
    previous.Swap(channel_);
  }
  previous.Reset();

  BrisqAutoLock channel_hold(channel_lock_);
  {
    BrisqAutoLock items_hold(items_lock_);
    for (const BrisqRef<PipeItem>& item : items_) {
      BrisqAutoLock write_hold(item->write_lock);
      item->m_audio = BrisqRef<PipeMemoryAudio>(
          new PipeMemoryAudio(PipeMemoryAudio::MappingName(item->index, name.c_str()).c_str()));
      item->m_video = BrisqRef<PipeMemoryVideo>(
          new PipeMemoryVideo(PipeMemoryVideo::MappingName(item->index, name.c_str()).c_str()));
    }
  }
  ConnectChannel(name);
}

void PipeClient::ConnectChannel(const std::wstring& name) {
  BRISQ_LOG(INFO) << "[PipeClient] Create(begin,...)";
  channel_ = BrisqRef<PipeChannel>(new PipeChannel());
  channel_->SetCallback(&PipeClient::OnChannelEvent, this);
  // The connect loop: up to 30 s. On failure the channel has already
  // reported EVENT_DISCONNECTED; it stays (closed) until a teardown.
  if (!channel_->Open(name.c_str(), PipeChannel::kModeClient)) {
    BRISQ_LOG_AT(ERROR) << "Failed to Create";
    return;
  }
  // A plain pointer: the connect thread is joined before our reference to
  // the channel is dropped (teardown, the next setup, the destructor). A
  // reference in the closure would live on in connect_thread_ after the
  // join and keep the channel open. A thread that cannot start has logged
  // its failure; the task goes on.
  PipeChannel* channel = channel_.Get();
  connect_thread_.Submit([channel] { channel->Connect(); });
  BRISQ_LOG(INFO) << "[PipeClient] Create(end,...)";
}

// --- Events ------------------------------------------------------------------------

void PipeClient::OnChannelEvent(uint32_t event, uint32_t type, const char* data, uint32_t length,
                                void* context) {
  static_cast<PipeClient*>(context)->HandleEvent(event, type, data, length);
}

void PipeClient::HandleEvent(uint32_t event, uint32_t type, const char* data, uint32_t length) {
  switch (event) {
    case EVENT_CONNECTED:
      connected_ = true;
      BRISQ_LOG(INFO) << "[PipeClient] EVENT_CONNECTED";
      break;
    case EVENT_BROKEN:
    case EVENT_CONNECTION_RESET:
      connected_ = false;
      BRISQ_LOG(INFO) << "[PipeClient] EVENT_BROKEN || EVENT_CONNECTION_RESET";
      // Refused while Destroy closes the runner; Destroy tears down itself.
      try {
        runner_.Submit([this] { TeardownTask(); });
      } catch (...) {
        BRISQ_LOG_CAUGHT("Failed to PipeClient::Teardown");
      }
      break;
    case EVENT_DISCONNECTED:
      BRISQ_LOG(INFO) << "[PipeClient] EVENT_DISCONNECTED";
      break;
    default:
      break;
  }
  const PipeCallback callback = callback_.load();
  if (callback != nullptr) {
    callback(static_cast<IPC_EVENT_TYPE>(event), type, data, length, context_.load());
  }
}

// --- Teardown ------------------------------------------------------------------------

void PipeClient::Destroy() {
  connected_ = false;
  // The runner drops tasks that are still queued when it sees the stop (a
  // Destroy during the 30 s connect loop would leave everything up, and the
  // connect thread running on a channel the destructor frees): whatever the
  // runner did not run, this thread runs once the runner has ended. That
  // also covers a task that could not be queued for want of memory.
  destroy_ran_ = false;
  try {
    runner_.Submit([this] {
      TeardownTask();
      destroy_ran_ = true;
    });
  } catch (...) {
    BRISQ_LOG_CAUGHT("Failed to PipeClient::Destroy");
  }
  runner_.Close();
  if (!destroy_ran_) {
    try {
      TeardownTask();
    } catch (...) {
      BRISQ_LOG_CAUGHT("Failed to PipeClient::Destroy");
    }
  }
  pipe_mutex_.Close();
}

void PipeClient::TeardownTask() {
  BRISQ_LOG(INFO) << "[PipeClient] Destroy(begin,...)";
  BrisqRef<PipeChannel> channel;
  {
    BrisqAutoLock hold(channel_lock_);
    // No Connect may still run on the channel once it is released.
    if (connect_thread_.HasThread()) connect_thread_.Close(INFINITE);
    channel.Swap(channel_);
  }
  // Closing joins the channel's reader thread, which runs the user's
  // callback; a callback that sends waits for channel_lock_, so the lock
  // must be free here. Sends meanwhile find no channel and fail.
  channel.Reset();
  // Nothing can report EVENT_CONNECTED any more: a hello that arrived while
  // Destroy began must not leave the flag set.
  connected_ = false;

  {
    BrisqAutoLock channel_hold(channel_lock_);
    BrisqAutoLock items_hold(items_lock_);
    for (const BrisqRef<PipeItem>& item : items_) {
      {
        // Waits for a packet being written into these rings.
        BrisqAutoLock write_hold(item->write_lock);
        if (item->m_audio) item->m_audio->Close();
        if (item->m_video) item->m_video->Close();
        item->m_audio.Reset();
        item->m_video.Reset();
      }
      // One more count each wakes a reader that waits on them.
      item->audioSemaphore.Release();
      item->videoSemaphore.Release();
    }
    items_.clear();
  }
  BRISQ_LOG(INFO) << "[PipeClient] Destroy(end,...)";
}

// --- Messages and packets ------------------------------------------------------------------

int32_t PipeClient::SendMessage(uint32_t type, const char* data, uint32_t length) try {
  if (!connected_.load()) {
    BRISQ_LOG_AT(ERROR) << "Failed to SendMessage(invalid state)";
    return 0;
  }
  BrisqAutoLock hold(channel_lock_);
  if (!channel_) {
    BRISQ_LOG_AT(ERROR) << "Failed to SendMessage(invalid channel)";
    return 0;
  }
  return channel_->Send(type, data, length) ? 1 : 0;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to PipeClient::SendMessage");
  return 0;
}

int32_t PipeClient::WritePacket(const MediaPacket* packet, uint32_t timeout_ms) try {
  return WritePacketImpl(packet, timeout_ms, false) ? 1 : 0;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to PipeClient::WritePacket");
  return 0;
}

int32_t PipeClient::WritePacketAsync(const MediaPacket* packet) try {
  return WritePacketImpl(packet, 0, true) ? 1 : 0;
} catch (...) {
  BRISQ_LOG_CAUGHT("Failed to PipeClient::WritePacketAsync");
  return 0;
}

bool PipeClient::WritePacketImpl(const MediaPacket* packet, uint32_t timeout_ms, bool async) {
  const char* const operation = async ? "WritePacketAsync" : "WritePacket";
  if (packet == nullptr) {
    BRISQ_LOG_AT(ERROR) << "Failed to " << operation << "(invalid parameter)";
    return false;
  }
  if (!connected_.load()) {
    BRISQ_LOG_AT(ERROR) << "Failed to " << operation << "(invalid state)";
    return false;
  }
  if (packet->kind != MEDIA_PACKET_AUDIO && packet->kind != MEDIA_PACKET_VIDEO) return true;

  BrisqRef<PipeItem> item;  // released on every path
  if (!GetPipeItem(packet->channel, &item)) {
    BRISQ_LOG_AT(ERROR) << "Failed to GetPipeItem(invalid index="
                        << static_cast<int32_t>(packet->channel) << ")";
    return false;
  }

  if (packet->kind == MEDIA_PACKET_VIDEO) {
    BrisqAutoLock hold(item->write_lock);
    PipeMemoryVideo* video = item->m_video.Get();
    if (video == nullptr) {
      if (!async) BRISQ_LOG_AT(ERROR) << "Failed to Find item->m_video";
      return false;
    }
    if (video->IsEmpty() && !video->Create(*packet)) {
      BRISQ_LOG_AT(ERROR) << "Failed to Create Video Memory";
      return false;
    }
    if (video->IsEmpty()) {
      if (!async) BRISQ_LOG_AT(ERROR) << "item->m_video is empty";
      return false;
    }
    // A count on the semaphore stands for one written slot: a refused
    // frame (logged by the ring) is not announced, or the server would
    // deliver a stale slot. The call still succeeds.
    if (video->SendPacket(*packet, async ? 0 : 1)) item->videoSemaphore.Release();
    return true;
  }

  bool wait_for_ack = false;
  {
    BrisqAutoLock hold(item->write_lock);
    PipeMemoryAudio* audio = item->m_audio.Get();
    if (audio == nullptr) return false;
    if (audio->IsEmpty() && !audio->Create(*packet)) {
      BRISQ_LOG_AT(ERROR) << "Failed to Create Audio Memory";
      return false;
    }
    if (audio->IsEmpty()) return false;
    if (!async) item->audioEvent.ResetEvent();
    if (audio->SendPacket(*packet, async ? 0 : 1)) {
      item->audioSemaphore.Release();
      if (async) {
        item->audioEvent.SetEvent();
      } else {
        wait_for_ack = true;
      }
    }
  }
  // Outside the write lock: teardown may close the rings meanwhile; the
  // event belongs to the item, which our reference keeps alive.
  if (wait_for_ack) item->audioEvent.Wait(timeout_ms);
  return true;
}

}  // namespace Quenlo
