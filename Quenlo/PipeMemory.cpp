#include "Quenlo/PipeMemory.h"

#include <string>

#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/layout/RingSlotReader.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace Quenlo {

using BrisqFramework::BrisqAnsiFromWide;

PipeMemory::PipeMemory(RingKind kind) : kind_(kind) {}

PipeMemory::~PipeMemory() { Close(); }

bool PipeMemory::Open(const wchar_t* name, uint32_t size) {
  Close();
  // The writer may have been refused the global namespace (see Create).
  const std::wstring local = LocalFormOf(name != nullptr ? name : L"");
  if (!mapping_.Open(name, local.empty() ? nullptr : local.c_str())) {
    BRISQ_LOG_AT(ERROR) << "Failed to Open(" << BrisqAnsiFromWide(name) << ")";
    Close();
    return false;
  }
  if (!mapping_.Map(size)) {
    BRISQ_LOG_AT(ERROR) << "Failed to Map(" << BrisqAnsiFromWide(name) << ")";
    Close();
    return false;
  }
  header_ = mapping_.View();
  index_ = -1;
  return true;
}

bool PipeMemory::Create(const wchar_t* name, uint32_t size) {
  Close();
  // Creating a "Global\" mapping needs the "create global objects"
  // privilege, which a panel started by an ordinary user lacks; the session's
  // own namespace needs none, and the reader looks there second.
  const std::wstring local = LocalFormOf(name != nullptr ? name : L"");
  if (!mapping_.Create(name, size, local.empty() ? nullptr : local.c_str())) {
    BRISQ_LOG_AT(ERROR) << "Failed to Create(" << BrisqAnsiFromWide(name) << ")";
    Close();
    return false;
  }
  if (mapping_.UsedFallback() && !warned_local_) {
    warned_local_ = true;
    BRISQ_LOG_AT(WARNING) << "Failed to Create(" << BrisqAnsiFromWide(name)
                          << ") in the global namespace(access denied), created "
                          << BrisqAnsiFromWide(local.c_str()) << " instead";
  }
  if (!mapping_.Map(size)) {
    BRISQ_LOG_AT(ERROR) << "Failed to Map(" << BrisqAnsiFromWide(name) << ")";
    Close();
    return false;
  }
  header_ = mapping_.View();
  index_ = 0;
  return true;
}

void PipeMemory::Close() {
  mapping_.Close();
  index_ = -1;
  delivered_ = RingDelivery();
  header_ = nullptr;
}

bool PipeMemory::IsEmpty() const { return !mapping_.HasMapping(); }

bool PipeMemory::SendPacket(const MediaPacket& packet, uint32_t ack) {
  if (header_ == nullptr || mapping_.IsReadOnly()) return false;
  // The writer's own slot size and index, never the shared header's.
  const uint32_t slot_size = RingSlotSize(kind_);
  uint8_t* slot = header_ + kRingHeaderSize + static_cast<size_t>(index_) * slot_size;
  const std::string refusal = StorePacket(slot, slot_size - kPacketRecordSize, packet);
  if (!refusal.empty()) {
    BRISQ_LOG_AT(ERROR) << refusal;
    return false;
  }
  CommitSlot(header_, ack, &index_);
  return true;
}

bool PipeMemory::ReadSlot(MediaPacket* out, bool* took_slot) {
  if (took_slot != nullptr) *took_slot = false;
  if (out == nullptr || header_ == nullptr) return false;
  RingDelivery* delivered = kind_ == RingKind::kVideo ? &delivered_ : nullptr;
  const RingRead read =
      ReadRingSlot(header_, mapping_.MappedSize(), kind_, &index_, out, delivered);
  if (read.status == RingRead::kRejected) BRISQ_LOG_AT(ERROR) << read.error;
  if (took_slot != nullptr) *took_slot = read.status != RingRead::kNothingToRead;
  return read.status == RingRead::kRead;
}

}  // namespace Quenlo
