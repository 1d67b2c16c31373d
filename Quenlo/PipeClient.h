// PipeClient.h - the object behind IPipeClient: the panel program's end of a
// pipe.
//
// Given a pipe name and a channel count, Create makes the named kernel
// objects the server expects for every media channel, then the client's
// runner connects one PipeChannel in client mode to the server's pipe.
// Channel events are forwarded to the user's callback; SendMessage frames
// user messages onto the channel; WritePacket / WritePacketAsync copy audio
// and video packets into the channel's shared-memory ring and signal the
// server through the channel's named semaphore.
//
// Threads, and what they own:
// - Caller threads: Create, Destroy, SendMessage, WritePacket(Async),
//   IsConnected, SetCallback, AddRef/Release/QueryInterface.
// - Runner thread (runner_): the setup task (buffer objects and the connect
//   loop, up to 30 s) and the teardown task, one at a time in queue order.
//   It alone uses connect_thread_ (after Destroy has joined the runner, the
//   caller's thread may run the teardown instead).
// - Connect thread (connect_thread_): the channel's Connect, once.
// - The channel's reader thread ("IPC Reader"): the event handler and thus
//   the user callback for EVENT_CONNECTED, EVENT_BROKEN and EVENT_MESSAGE.
//   EVENT_DISCONNECTED arrives on the thread that closes the channel (the
//   runner, or the caller of Destroy).
//
// Locks, in this order (never the other way round):
//   channel_lock_  guards channel_; held by SendMessage around the channel's
//                  Send and by setup and teardown. Never held while the
//                  channel is closed: closing joins the reader thread, whose
//                  callbacks may call SendMessage.
//   items_lock_    guards items_; held by Create, GetPipeItem and teardown.
//   PipeItem::write_lock  guards an item's two rings while a packet is
//                  written or the rings are closed.
#ifndef QUENLO_PIPECLIENT_H
#define QUENLO_PIPECLIENT_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/BrisqRefCount.h"
#include "BrisqFramework/IO/BrisqSingleRunner.h"
#include "BrisqFramework/IO/BrisqThread.h"
#include "Quenlo/PipeChannel.h"
#include "Quenlo/PipeMemoryAudio.h"
#include "Quenlo/PipeMemoryVideo.h"
#include "Quenlo/Quenlo.h"
#include "Quenlo/RefCountedInterface.h"

// The library sends no window messages: SendMessage in this file is the
// interface method, not <windows.h>'s macro (see Quenlo.h).
#undef SendMessage

namespace Quenlo {

class PipeClient final : public RefCountedInterface<PipeClient, IPipeClient> {
 public:
  // The kernel objects and rings of one media channel. The item array holds
  // one reference; GetPipeItem hands out another, which keeps the item (not
  // its rings: teardown closes them under write_lock) alive during a write.
  class PipeItem : public BrisqFramework::BrisqRefCount<PipeItem> {
   public:
    static constexpr uint32_t kUnassigned = 0x7FFFFFFF;

    PipeItem() = default;
    PipeItem(const PipeItem&) = delete;
    PipeItem& operator=(const PipeItem&) = delete;

    uint32_t index = kUnassigned;
    BrisqFramework::BrisqEvent audioEvent;          // "Global\AudioPipeEvent_%d_%s"
    BrisqFramework::BrisqSemaphore audioSemaphore;  // "Global\AudioPipeSemaphore_%d_%s"
    BrisqFramework::BrisqSemaphore videoSemaphore;  // "Global\VideoPipeSemaphore_%d_%s"
    // Guards m_audio and m_video (the references and the rings behind them):
    // a packet is written, and a ring created or closed, only while held.
    BrisqFramework::BrisqLock write_lock;
    BrisqFramework::BrisqRef<PipeMemoryAudio> m_audio;  // "Global\PIPE_AUDIO_%d_%s"
    BrisqFramework::BrisqRef<PipeMemoryVideo> m_video;  // "Global\PIPE_VIDEO_%d_%s"

   private:
    friend class BrisqFramework::BrisqRefCount<PipeItem>;
    ~PipeItem() = default;
  };

  // All fields empty, not connected, one reference (CreatePipeClient's).
  PipeClient();
  // Releases what the object still holds; it does not run Destroy's
  // teardown, but it joins the runner and the connect thread first so that
  // no library thread is left using the object.
  ~PipeClient();

  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // IMSUnknown (RefCountedInterface): the Release that reaches 0 deletes the
  // object and returns 0; QueryInterface answers IID_IPipeClient and
  // IID_IMSUnknown.

  // 1 between EVENT_CONNECTED and the next break, Create or Destroy.
  uint32_t IsConnected() override;
  // Logs INFO "[PipeClient] SetCallback..." and stores both. The callback
  // receives every channel event, on library threads; it must not call
  // Destroy.
  void SetCallback(PipeCallback callback, void* context) override;
  // Makes the pipe mutex and, for every channel, its two semaphores and its
  // acknowledge event on the calling thread, then queues the setup task
  // that connects (up to 30 s). True means the task was queued; the outcome
  // arrives as EVENT_CONNECTED or EVENT_DISCONNECTED. Refused (false, after
  // an ERROR line, nothing created) for a name longer than 129 characters
  // ("Failed to Create(pipe name too long)") and for more than
  // kMaxPipeChannels channels ("Failed to Create(too many channels)").
  int32_t Create(const wchar_t* name, uint32_t channels) override;
  // Tears the connection down and waits for it: the channel is closed
  // (EVENT_DISCONNECTED), the items and rings are released, the runner is
  // joined and the pipe mutex closed. Must not be called from the callback.
  void Destroy() override;
  // Sends one message whose payload is one data blob. False after
  // "Failed to SendMessage(invalid state)" while not connected and after
  // "Failed to SendMessage(invalid channel)" while no channel exists;
  // otherwise the channel's Send.
  int32_t SendMessage(uint32_t type, const char* data, uint32_t length) override;
  // Copies the packet into its channel's ring and releases the kind's
  // semaphore; audio then waits up to timeout_ms for the reader's
  // acknowledgement (the result does not depend on it). Kinds other than
  // audio and video return true and do nothing.
  int32_t WritePacket(const MediaPacket* packet, uint32_t timeout_ms) override;
  // As WritePacket without waiting; audio signals the acknowledge event
  // itself.
  int32_t WritePacketAsync(const MediaPacket* packet) override;

  // Under the item lock, the first item whose index is `index`, with a new
  // reference for the caller in *item. False when there is none or `item`
  // is null.
  bool GetPipeItem(uint32_t index, BrisqFramework::BrisqRef<PipeItem>* item);

 private:
  // Runner tasks.
  void SetupTask(const std::wstring& name);
  void ConnectChannel(const std::wstring& name);  // channel_lock_ held
  void TeardownTask();

  void HandleEvent(uint32_t event, uint32_t type, const char* data, uint32_t length);
  static void OnChannelEvent(uint32_t event, uint32_t type, const char* data, uint32_t length,
                             void* context);

  bool WritePacketImpl(const MediaPacket* packet, uint32_t timeout_ms, bool async);

  std::atomic<bool> connected_{false};
  std::atomic<bool> destroy_ran_{false};   // Destroy's teardown task ran on the runner
  std::wstring name_;                      // caller's thread (Create)
  uint32_t channel_count_ = 0;             // caller's thread (Create)
  BrisqFramework::BrisqMutex pipe_mutex_;  // caller's thread (Create, Destroy)
  BrisqFramework::BrisqLock channel_lock_;
  BrisqFramework::BrisqLock items_lock_;
  std::vector<BrisqFramework::BrisqRef<PipeItem>> items_;  // items_lock_
  BrisqFramework::BrisqRef<PipeChannel> channel_;          // channel_lock_
  BrisqFramework::IO::BrisqThread connect_thread_;         // runner thread
  BrisqFramework::IO::BrisqSingleRunner runner_;
  // Written by SetCallback without a lock, read by the event handler on
  // library threads; atomics so that neither read can tear.
  std::atomic<PipeCallback> callback_{nullptr};
  std::atomic<void*> context_{nullptr};
};

}  // namespace Quenlo

#endif  // QUENLO_PIPECLIENT_H
