// PipeMemoryVideo.h - the video ring of one channel: "Global\PIPE_VIDEO_%d_%s",
// three slots of 168 + 1920 * 1080 * 4 bytes in a mapping of 33178320 bytes.
//
// Reference counted: the last Release deletes the object (hold it in a
// BrisqRef). The video writer never waits for the reader.
#ifndef QUENLO_PIPEMEMORYVIDEO_H
#define QUENLO_PIPEMEMORYVIDEO_H

#include <cstdint>
#include <string>

#include "BrisqFramework/Common/BrisqRefCount.h"
#include "Quenlo/PipeMemory.h"

namespace Quenlo {

class PipeMemoryVideo : public PipeMemory, public BrisqFramework::BrisqRefCount<PipeMemoryVideo> {
 public:
  // "Global\PIPE_VIDEO_<index>_<pipe name>" (a null pipe name counts as empty).
  static std::wstring MappingName(int32_t index, const wchar_t* pipe_name);

  // Records the mapping name (null counts as empty); maps nothing yet.
  explicit PipeMemoryVideo(const wchar_t* name);

  const std::wstring& Name() const { return name_; }

  using PipeMemory::Create;
  using PipeMemory::Open;

  // Writer, on the channel's first video packet: creates and maps the
  // mapping under this object's name and writes the header (slotSize
  // 8294568, slotCount 3, info0/info1 = the packet's u32s at 28 and 32,
  // fillState 2). False, closed, after the ERROR lines of PipeMemory::Create.
  bool Create(const MediaPacket& first);

  // Reader: opens and maps the mapping under this object's name.
  bool Open();

  // Reader: copies the record of the slot the index names into *out and
  // points data[0..3] at the planes of its format in the mapping (the other
  // pointers are null) with linesize[0..3] their row widths there, then
  // steps the index on. A reader at -1 starts at the slot written last. A
  // slot is delivered only when one was written since the last delivery
  // (a wake-up without a write, or a slot never written, yields false
  // without a line). The pointers lead into a read-only view and stay
  // valid until Close; the writer may overwrite the slot meanwhile. False when nothing is mapped,
  // and after an ERROR line when the slot or the header holds values that do not fit the mapping
  // (the slot is skipped).
  bool ReadPacket(MediaPacket* out);

 private:
  friend class BrisqFramework::BrisqRefCount<PipeMemoryVideo>;
  ~PipeMemoryVideo() override;

  const std::wstring name_;
};

}  // namespace Quenlo

#endif  // QUENLO_PIPEMEMORYVIDEO_H
