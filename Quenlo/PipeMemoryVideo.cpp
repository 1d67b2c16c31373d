#include "Quenlo/PipeMemoryVideo.h"

#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace Quenlo {

std::wstring PipeMemoryVideo::MappingName(int32_t index, const wchar_t* pipe_name) {
  return ChannelObjectName(kVideoMappingKind, static_cast<uint32_t>(index), pipe_name);
}

PipeMemoryVideo::PipeMemoryVideo(const wchar_t* name)
    : PipeMemory(RingKind::kVideo), name_(name != nullptr ? name : L"") {}

PipeMemoryVideo::~PipeMemoryVideo() = default;

bool PipeMemoryVideo::Create(const MediaPacket& first) {
  if (!PipeMemory::Create(name_.c_str(), kVideoMappingSize)) return false;
  WriteRingHeader(header_, RingKind::kVideo, first);
  return true;
}

bool PipeMemoryVideo::Open() { return PipeMemory::Open(name_.c_str(), kVideoMappingSize); }

bool PipeMemoryVideo::ReadPacket(MediaPacket* out) { return ReadSlot(out); }

}  // namespace Quenlo
