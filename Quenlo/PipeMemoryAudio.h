// PipeMemoryAudio.h - the audio ring of one channel: "Global\PIPE_AUDIO_%d_%s",
// three slots of 168 + 122880 bytes in a mapping of 492240 bytes.
//
// Reference counted: the last Release deletes the object (hold it in a
// BrisqRef).
//
// Each stored audio slot is read exactly once. The writer stores a slot,
// names it in lastIndex and releases the semaphore once; the reader reads a
// slot whenever it has not yet read the one lastIndex names, so the reader
// whose index equals lastIndex reads that slot at once (it is the newest
// one), and only a reader whose index is one past lastIndex has nothing to
// read. A fresh reader starts at lastIndex. After a read the server
// acknowledges the packet when AckRequested() says the writer waits for it.
#ifndef QUENLO_PIPEMEMORYAUDIO_H
#define QUENLO_PIPEMEMORYAUDIO_H

#include <cstdint>
#include <string>

#include "BrisqFramework/Common/BrisqRefCount.h"
#include "Quenlo/PipeMemory.h"

namespace Quenlo {

class PipeMemoryAudio : public PipeMemory, public BrisqFramework::BrisqRefCount<PipeMemoryAudio> {
 public:
  // "Global\PIPE_AUDIO_<index>_<pipe name>" (a null pipe name counts as empty).
  static std::wstring MappingName(int32_t index, const wchar_t* pipe_name);

  // Records the mapping name (null counts as empty); maps nothing yet.
  explicit PipeMemoryAudio(const wchar_t* name);

  const std::wstring& Name() const { return name_; }

  using PipeMemory::Create;
  using PipeMemory::Open;

  // Writer, on the channel's first audio packet: creates and maps the
  // mapping under this object's name and writes the header (slotSize
  // 123048, slotCount 3, info0 1, info1 = the packet's u32 at 16,
  // fillState 2). False, closed, after the ERROR lines of PipeMemory::Create.
  bool Create(const MediaPacket& first);

  // Reader: opens and maps the mapping under this object's name.
  bool Open();

  // Reader: when a stored slot is unread (see above), copies its record into
  // *out with data[0] pointing at its payload in the read-only view (valid
  // until Close; the other pointers null; a size beyond the slot's 122880
  // bytes clamped to them) and steps the index on. False when nothing is
  // mapped or nothing is unread (no line), and after an ERROR line when the
  // slot or the header holds values that do not fit the mapping (the slot is
  // skipped). *took_slot (may be null) is false only when nothing was
  // mapped or unread: a slot read or refused is one the writer waits to see
  // acknowledged.
  bool ReadPacket(MediaPacket* out, bool* took_slot = nullptr);

  // The acknowledge flag stored with the latest packet (1 from WritePacket,
  // 0 from WritePacketAsync); false when nothing is mapped.
  bool AckRequested() const;

 private:
  friend class BrisqFramework::BrisqRefCount<PipeMemoryAudio>;
  ~PipeMemoryAudio() override;

  const std::wstring name_;
};

}  // namespace Quenlo

#endif  // QUENLO_PIPEMEMORYAUDIO_H
