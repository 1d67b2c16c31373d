#include "Quenlo/PipeMemoryAudio.h"

#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace Quenlo {

std::wstring PipeMemoryAudio::MappingName(int32_t index, const wchar_t* pipe_name) {
  return ChannelObjectName(kAudioMappingKind, static_cast<uint32_t>(index), pipe_name);
}

PipeMemoryAudio::PipeMemoryAudio(const wchar_t* name)
    : PipeMemory(RingKind::kAudio), name_(name != nullptr ? name : L"") {}

PipeMemoryAudio::~PipeMemoryAudio() = default;

bool PipeMemoryAudio::Create(const MediaPacket& first) {
  if (!PipeMemory::Create(name_.c_str(), kAudioMappingSize)) return false;
  WriteRingHeader(header_, RingKind::kAudio, first);
  return true;
}

bool PipeMemoryAudio::Open() { return PipeMemory::Open(name_.c_str(), kAudioMappingSize); }

bool PipeMemoryAudio::ReadPacket(MediaPacket* out, bool* took_slot) {
  return ReadSlot(out, took_slot);
}

bool PipeMemoryAudio::AckRequested() const {
  if (header_ == nullptr) return false;
  return LoadRingHeader(header_).ack_requested != 0;
}

}  // namespace Quenlo
