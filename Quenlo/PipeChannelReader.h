// PipeChannelReader.h - the input side of a pipe channel without the pipe:
// cuts a received byte stream into messages and dispatches them.
//
// Received bytes arrive in chunks of any size (one read of the channel).
// Whole messages inside a chunk are handed on in place, without a copy; only
// a message split across chunks is gathered in the overflow buffer, whose
// room follows the bytes received, not the size a header announces. No
// message, and no partial message, may be larger than kMaxMessageSize: the
// limit is checked as soon as a header announces a size and before anything
// is allocated for it.
//
// Internal messages (routing -2, type 65533..65535) are consumed here; the
// delegate sees the hello as OnHello and an unreadable internal message as
// OnInternalBroken. Every other message reaches OnUserMessage.
//
// Thread affinity: one thread at a time (the channel's reader thread). The
// delegate is called on that thread and must not call TranslateInput or
// Reset from inside a delegate call.
#ifndef QUENLO_PIPECHANNELREADER_H
#define QUENLO_PIPECHANNELREADER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Quenlo/message/IPCMessage.h"

namespace Quenlo {

class PipeChannelReader {
 public:
  // 128 MiB: the largest message (header included) a channel accepts.
  static constexpr std::size_t kMaxMessageSize = 0x8000000;
  // Bytes one read of the channel delivers at most.
  static constexpr std::size_t kReadBufferSize = 4096;
  // The most the overflow buffer reserves ahead for a message announced but
  // not yet arrived; a larger one is gathered in a buffer that doubles as
  // its bytes arrive.
  static constexpr std::size_t kReservedAhead = 64 * 1024;

  class Delegate {
   public:
    // The peer's hello arrived (its process id).
    virtual void OnHello(int32_t peer_process_id) = 0;
    // An internal message could not be read (after the ERROR line
    // "Failed to HandleInternalMessage").
    virtual void OnInternalBroken() = 0;
    // A user message of `type` whose payload's data blob is [data, data +
    // length); null and 0 when the payload holds no readable blob. `data`
    // points into the received bytes or the overflow buffer and is valid
    // only during the call.
    virtual void OnUserMessage(uint32_t type, const char* data, uint32_t length) = 0;

   protected:
    ~Delegate() = default;
  };

  // `delegate` must outlive the reader.
  explicit PipeChannelReader(Delegate* delegate);
  PipeChannelReader(const PipeChannelReader&) = delete;
  PipeChannelReader& operator=(const PipeChannelReader&) = delete;

  // Cuts `size` received bytes, following whatever the overflow buffer
  // holds, into messages and dispatches each whole one in order; the rest is
  // kept for the next call. False for no bytes (no log line), and, after the
  // ERROR line "Failed to CheckMessageSize" with the overflow buffer
  // emptied, when a header announces more than kMaxMessageSize or the
  // gathered bytes would grow beyond it. Messages before the offending one
  // have been dispatched.
  bool TranslateInput(const char* data, std::size_t size);

  // Drops the gathered bytes (a new connection starts a new stream).
  void Reset();

  // Bytes gathered towards a message that has not arrived whole yet.
  std::size_t BufferedBytes() const { return overflow_.size(); }
  // Room the overflow buffer holds without growing.
  std::size_t BufferedCapacity() const { return overflow_.capacity(); }

 private:
  // Hands one whole message to the delegate; false when it cannot be viewed.
  bool HandleTranslatedMessage(const Ravoque::IPCMessage& message);
  void HandleInternalMessage(const Ravoque::IPCMessage& message);
  void DropOverflow();
  // Appends to the overflow buffer, doubling its room when it is full.
  void Append(const char* data, std::size_t size);

  Delegate* delegate_;
  std::vector<char> overflow_;
};

}  // namespace Quenlo

#endif  // QUENLO_PIPECHANNELREADER_H
