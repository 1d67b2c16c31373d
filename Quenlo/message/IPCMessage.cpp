#include "Quenlo/message/IPCMessage.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Ravoque {
namespace {

constexpr std::size_t kRoutingOffset = 4;
constexpr std::size_t kTypeOffset = 8;
constexpr std::size_t kFlagsOffset = 12;

// Counts every message built in this process; the first one gets 1.
std::atomic<uint32_t> g_messageCounter{0};

}  // namespace

uint32_t IPCMessage::CurrentProcessId() noexcept {
#ifdef _WIN32
  return static_cast<uint32_t>(::GetCurrentProcessId());
#else
  return static_cast<uint32_t>(::getpid());
#endif
}

uint32_t IPCMessage::MakeFlags(uint32_t processId, uint32_t counter) noexcept {
  return (((processId << 14) | (counter & 0x3FFFu)) << 8) | kPriority;
}

IPCMessage::IPCMessage(uint32_t type) : Pickle(kHeaderSize) {
  char* header = MutableHeader();
  if (header == nullptr) return;  // allocation failed: an empty, unwritable message
  StoreLE32(header + kRoutingOffset, static_cast<uint32_t>(kRoutingNone));
  StoreLE32(header + kTypeOffset, type);
  const uint32_t n = g_messageCounter.fetch_add(1, std::memory_order_relaxed) + 1;
  StoreLE32(header + kFlagsOffset, MakeFlags(CurrentProcessId(), n));
}

IPCMessage::IPCMessage(const void* data, std::size_t length) : Pickle(data, length) {
  // The fields below are read from the header, so it must hold all of them.
  if (HeaderSize() < kHeaderSize) Invalidate();
}

IPCMessage::~IPCMessage() = default;

int32_t IPCMessage::Routing() const noexcept {
  return Data() != nullptr ? static_cast<int32_t>(LoadLE32(Data() + kRoutingOffset)) : 0;
}

uint32_t IPCMessage::Type() const noexcept {
  return Data() != nullptr ? LoadLE32(Data() + kTypeOffset) : 0;
}

uint32_t IPCMessage::Flags() const noexcept {
  return Data() != nullptr ? LoadLE32(Data() + kFlagsOffset) : 0;
}

bool IPCMessage::FindNext(const char* start, const char* end, FrameInfo* info) noexcept {
  *info = FrameInfo{};
  if (start == nullptr || end == nullptr || end < start) return false;
  const std::size_t available = static_cast<std::size_t>(end - start);
  if (available < kHeaderSize) return false;

  info->messageSize = kHeaderSize + static_cast<uint64_t>(LoadLE32(start));
  if (info->messageSize > available) return false;
  info->messageEnd = start + static_cast<std::size_t>(info->messageSize);
  return true;
}

}  // namespace Ravoque
