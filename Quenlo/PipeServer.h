// PipeServer.h - the object behind IPipeServer: the host's end of a pipe.
//
// The host opens the server under a pipe name with a number of media
// channels; the server then waits for one client, reports its connection
// changes and messages to the host's callback, delivers every video and
// audio packet the client writes into the channels' shared-memory rings as
// EVENT_PACKET, and sends the host's messages back. When the client's pipe
// breaks, the server rebuilds its pipe by itself and waits for the next
// client under the same name.
//
// Threads, and what they own:
// - Host threads: the IPipeServer operations. Open, Close and Release only
//   queue work (Release of the last reference tears down synchronously).
// - Runner thread (runner_): the open, destroy and rebuild tasks, one at a
//   time. It alone changes the item list, the channel, name_/channel_count_
//   and listen_thread_.
// - Listen thread (listen_thread_): the channel's Connect, which waits for
//   the client; its closure holds a reference of its own to the channel.
// - The channel's reader thread ("IPC Reader"): the event hook for
//   EVENT_CONNECTED, EVENT_BROKEN and EVENT_MESSAGE, and the host's callback
//   for them. EVENT_DISCONNECTED comes on the thread that closes the channel
//   (the runner, or the thread that releases the last reference).
// - Two reader threads per item (PipeItem::ReadVideo / ReadAudio): the
//   host's callback with EVENT_PACKET.
// So the host's callback runs on several threads at once. It may call
// SendMessage, IsConnected, SetCallback, Open, Close and OpenLogFile; it must
// not release the last reference.
//
// Locks, in this order (never the other way round):
//   state_lock_  guards channel_. SendMessage holds it around the channel's
//                Send; the lifecycle tasks hold it only to install or take
//                out the channel. Never held while a thread that runs the
//                host's callback is joined (the channel's reader thread, the
//                item readers): that callback may be waiting for it in
//                SendMessage.
//   items_lock_  guards items_; held by the open task while it builds the
//                list, by the event hook while it starts readers, and by the
//                teardown while it takes the list. Never held while a reader
//                is joined.
#ifndef QUENLO_PIPESERVER_H
#define QUENLO_PIPESERVER_H

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

class PipeServer final : public RefCountedInterface<PipeServer, IPipeServer> {
 public:
  // The kernel objects, rings and reader threads of one media channel. The
  // item list holds one reference. The readers use the item and the server
  // through plain pointers: both outlive them, because every teardown joins
  // the readers before it drops the item.
  class PipeItem : public BrisqFramework::BrisqRefCount<PipeItem> {
   public:
    static constexpr int32_t kUnassigned = 0x7FFFFFFF;

    explicit PipeItem(PipeServer* owner) : server(owner) {}
    PipeItem(const PipeItem&) = delete;
    PipeItem& operator=(const PipeItem&) = delete;

    // Reader threads. Each waits on its kind's semaphore, ends when the
    // server is stopping, opens its ring on the first wake-up (ERROR
    // "Failed to ReadVideo(memory can't open)" / "Failed to ReadAudio(memory
    // can't open)" ends the thread), reads the next packet and hands it to
    // the host's callback as EVENT_PACKET (type 0, the 168-byte record,
    // length 168). The audio reader then signals the acknowledge event when
    // the writer asked for it.
    void ReadVideo();
    void ReadAudio();

    // True while a reader thread of that kind was started and not yet
    // joined. Runner thread, or the event hook under the items lock.
    bool VideoReaderStarted() const { return videoReader.HasThread(); }
    bool AudioReaderStarted() const { return audioReader.HasThread(); }

    int32_t index = kUnassigned;
    BrisqFramework::BrisqEvent audioEvent;          // "Global\AudioPipeEvent_%d_%s"
    BrisqFramework::BrisqSemaphore audioSemaphore;  // "Global\AudioPipeSemaphore_%d_%s"
    BrisqFramework::BrisqSemaphore videoSemaphore;  // "Global\VideoPipeSemaphore_%d_%s"
    // Set by the open task before any reader can start; dropped by the
    // destroy teardown after the readers were joined. Used by the reader of
    // its kind only while it runs.
    BrisqFramework::BrisqRef<PipeMemoryAudio> m_audio;  // "Global\PIPE_AUDIO_%d_%s"
    BrisqFramework::BrisqRef<PipeMemoryVideo> m_video;  // "Global\PIPE_VIDEO_%d_%s"
    // Started by the event hook (under the items lock), joined by the
    // teardown (runner thread, no lock held).
    BrisqFramework::IO::BrisqThread audioReader;
    BrisqFramework::IO::BrisqThread videoReader;
    PipeServer* const server;

   private:
    friend class BrisqFramework::BrisqRefCount<PipeItem>;
    ~PipeItem() = default;
  };

  // Logs INFO "[PipeServer] constructor" and opens the runner; a runner
  // that cannot open logs ERROR "Failed to open runner", and every later
  // lifecycle task is refused. The count starts at 0: CreatePipeServer
  // takes the first reference.
  PipeServer();
  // Closes the runner and, when the server is still open (no Close, or its
  // destroy task did not run), tears it down here: channel closed, listen
  // thread and readers joined, rings unmapped. Then logs INFO
  // "[PipeServer] destructor".
  ~PipeServer();

  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // IMSUnknown (RefCountedInterface): the Release that reaches 0 logs INFO
  // "[PipeServer] OnRelease" (OnLastRelease), deletes the server (tearing it
  // down if still open) and returns 0. It must not come from the host's
  // callback. QueryInterface answers IID_IPipeServer and IID_IMSUnknown.
  void OnLastRelease();

  // 1 between EVENT_CONNECTED and EVENT_BROKEN; 0 after Open and Close.
  uint32_t IsConnected() override;
  // Logs INFO "[PipeServer] SetCallback" and stores both, without a lock.
  void SetCallback(PipeCallback callback, void* context) override;
  // Logs "[PipeServer] Open(begin...)", resets the flags, and queues the
  // open task (items, rings, a listening pipe); logs
  // "[PipeServer] Open(end...) res = <1 or 0>" with the queuing result.
  // Always returns 1: the outcome shows in the log and the events. The task
  // refuses, with an ERROR line and without making anything, a name longer
  // than 129 characters ("Failed to Open(pipe name too long)") and more than
  // kMaxPipeChannels channels ("Failed to Open(too many channels)"). An Open
  // while the server is open closes the previous pipe and items first.
  int32_t Open(const wchar_t* name, uint32_t channels) override;
  // Logs "[PipeServer] Close(begin...) ", connected := 0, queues the destroy
  // task and logs "[PipeServer] Close(end...) ". Does not wait.
  void Close() override;
  // Under the state lock: without a channel ERROR
  // "Failed to SendMessage(invalid channel)"; null data or length 0 ERROR
  // "Failed to SendMessage(invalid parameter)"; else the channel's Send.
  int32_t SendMessage(uint32_t type, const char* data, uint32_t length) override;
  // Chooses the library's log file: `path`, or the default path beside the
  // executable when null or empty. 1 when the file is open.
  int32_t OpenLogFile(const wchar_t* path) override;

 private:
  // Runner tasks.
  void OpenTask(const std::wstring& name, uint32_t channels);
  void DestroyTask();
  void RebuildTask();

  // Makes, hooks and opens a new server channel (it becomes the server's
  // channel even when it fails to open) and starts the listen thread on it.
  // Failure logs ERROR "Failed to Create" and returns false.
  bool CreateChannel();
  // Takes the channel out under the state lock, then closes and releases it
  // and joins the listen thread without any lock held.
  void TakeDownChannel();
  // Stops and joins both readers of every item and unmaps the rings; with
  // `drop_items` the rings and the items are released and the list emptied.
  void TakeDownItems(bool drop_items);
  // The destroy steps, shared by the destroy task, a replacing Open and the
  // destructor.
  void Teardown();
  bool HasOpenState();

  void HandleEvent(uint32_t event, uint32_t type, const char* data, uint32_t length);
  void StartReaders();  // EVENT_CONNECTED
  void LogMessageEvent(uint32_t type);
  static void OnChannelEvent(uint32_t event, uint32_t type, const char* data, uint32_t length,
                             void* context);
  // The host's callback, if set. Any thread.
  void NotifyHost(uint32_t event, uint32_t type, const char* data, uint32_t length);

  std::atomic<bool> connected_{false};
  // 1 while tearing down; read by the reader threads after each wake-up.
  std::atomic<bool> stopping_{false};
  std::wstring name_;           // runner thread (set by the open task)
  uint32_t channel_count_ = 0;  // runner thread
  BrisqFramework::BrisqLock state_lock_;
  BrisqFramework::BrisqLock items_lock_;
  std::vector<BrisqFramework::BrisqRef<PipeItem>> items_;  // items_lock_
  BrisqFramework::BrisqRef<PipeChannel> channel_;          // state_lock_
  BrisqFramework::IO::BrisqThread listen_thread_;          // runner thread
  BrisqFramework::IO::BrisqSingleRunner runner_;
  // Written by SetCallback without a lock, read on library threads; atomics
  // so that neither read can tear.
  std::atomic<PipeCallback> callback_{nullptr};
  std::atomic<void*> context_{nullptr};
};

}  // namespace Quenlo

#endif  // QUENLO_PIPESERVER_H
