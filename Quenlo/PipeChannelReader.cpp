#include "Quenlo/PipeChannelReader.h"

#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/message/PickleIterator.h"

namespace Quenlo {

namespace {

// An emptied overflow buffer keeps its storage up to this size; a larger one
// (after a big message) is given back rather than held for the channel's life.
constexpr std::size_t kKeptOverflowCapacity = std::size_t{64} * 1024;

bool IsInternal(const Ravoque::IPCMessage& message) {
  const uint32_t type = message.Type();
  return message.Routing() == Ravoque::IPCMessage::kRoutingNone &&
         (type == Ravoque::IPCMessage::kTypeHello || type == Ravoque::IPCMessage::kTypeInternal ||
          type == Ravoque::IPCMessage::kTypeIgnored);
}

}  // namespace

PipeChannelReader::PipeChannelReader(Delegate* delegate) : delegate_(delegate) {}

void PipeChannelReader::Reset() { DropOverflow(); }

void PipeChannelReader::DropOverflow() {
  if (overflow_.capacity() > kKeptOverflowCapacity) {
    std::vector<char>().swap(overflow_);
  } else {
    overflow_.clear();
  }
}

bool PipeChannelReader::TranslateInput(const char* data, std::size_t size) {
  if (data == nullptr || size == 0) return false;

  const char* p = data;
  const char* end = data + size;
  const bool gathering = !overflow_.empty();
  if (gathering) {
    // Checked before appending, so the buffer never grows past the limit.
    if (overflow_.size() + size > kMaxMessageSize) {
      DropOverflow();
      BRISQ_LOG_AT(ERROR) << "Failed to CheckMessageSize";
      return false;
    }
    Append(data, size);
    p = overflow_.data();
    end = p + overflow_.size();
  }

  uint64_t partial_size = 0;
  while (p < end) {
    Ravoque::IPCMessage::FrameInfo info;
    if (Ravoque::IPCMessage::FindNext(p, end, &info)) {
      const Ravoque::IPCMessage message(p, static_cast<std::size_t>(info.messageEnd - p));
      if (!HandleTranslatedMessage(message)) {
        BRISQ_LOG_AT(ERROR) << "Failed to HandleTranslatedMessage";
        return false;
      }
      p = info.messageEnd;
      continue;
    }
    if (info.messageSize > kMaxMessageSize) {
      DropOverflow();
      BRISQ_LOG_AT(ERROR) << "Failed to CheckMessageSize";
      return false;
    }
    partial_size = info.messageSize;  // 0 while not even the header is here
    break;
  }

  // Keep the unfinished rest. `p` points into overflow_ when gathering, so
  // that case trims the front instead of copying.
  if (p == end) {
    DropOverflow();
    return true;
  }
  if (gathering) {
    overflow_.erase(overflow_.begin(), overflow_.begin() + (p - overflow_.data()));
  } else {
    overflow_.assign(p, end);
  }
  // Room for the whole message and one more read, so that completing it
  // needs no further allocation; but only up to kReservedAhead. Beyond
  // that the buffer grows with the bytes that actually arrive: a header is
  // a promise anyone can make, and a peer that announces 120 MiB and sends
  // nothing more must not cost 120 MiB. partial_size <= kMaxMessageSize.
  const std::size_t wanted = static_cast<std::size_t>(partial_size) + kReadBufferSize - 1;
  if (partial_size != 0 && wanted <= kReservedAhead && overflow_.capacity() < wanted) {
    overflow_.reserve(wanted);
  }
  return true;
}

void PipeChannelReader::Append(const char* data, std::size_t size) {
  // Doubling, whatever the library's own growth: the appends of a large
  // message then cost amortised constant time per byte.
  const std::size_t needed = overflow_.size() + size;
  if (needed > overflow_.capacity()) {
    std::size_t room = overflow_.capacity() * 2;
    if (room < needed) room = needed;
    if (room > kMaxMessageSize) room = kMaxMessageSize;  // needed <= kMaxMessageSize
    overflow_.reserve(room);
  }
  overflow_.insert(overflow_.end(), data, data + size);
}

bool PipeChannelReader::HandleTranslatedMessage(const Ravoque::IPCMessage& message) {
  // FindNext delimited it, so the view is valid; an invalid one would mean
  // the framing is out of step and nothing after it can be trusted.
  if (message.Data() == nullptr) return false;

  if (IsInternal(message)) {
    // The peer's internal traffic never reaches the user; what it does to
    // the channel is up to HandleInternalMessage, the cut goes on anyway.
    HandleInternalMessage(message);
    return true;
  }
  Ravoque::PickleIterator iter(message);
  const char* blob = nullptr;
  int length = 0;
  if (!iter.ReadData(&blob, &length)) {
    blob = nullptr;
    length = 0;
  }
  delegate_->OnUserMessage(message.Type(), blob, static_cast<uint32_t>(length));
  return true;
}

void PipeChannelReader::HandleInternalMessage(const Ravoque::IPCMessage& message) {
  const uint32_t type = message.Type();
  if (type == Ravoque::IPCMessage::kTypeIgnored) return;

  Ravoque::PickleIterator iter(message);
  int32_t value = 0;
  if (!iter.ReadInt(&value)) {
    BRISQ_LOG_AT(ERROR) << "Failed to HandleInternalMessage";
    delegate_->OnInternalBroken();
    return;
  }
  if (type == Ravoque::IPCMessage::kTypeHello) delegate_->OnHello(value);
}

}  // namespace Quenlo
