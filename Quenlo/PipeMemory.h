// PipeMemory.h - the common base of the shared-memory media rings.
//
// One ring per channel and kind: the pipe client creates the mapping and
// writes packets into it (Create, SendPacket), the pipe server opens it and
// reads them (Open, ReadPacket of PipeMemoryVideo / PipeMemoryAudio). The
// byte layout lives in Quenlo/layout (RingLayout.h); everything read from a
// mapping is checked before it is used (RingSlotReader.h).
//
// Threads: a ring object is used by one thread at a time (the client's
// sending thread, or the server's reader thread of that channel and kind);
// it has no lock. Across processes, the writer finishes a slot and the
// header before it releases the kind's semaphore, and the reader touches
// the ring only after its wait on that semaphore returned.
#ifndef QUENLO_PIPEMEMORY_H
#define QUENLO_PIPEMEMORY_H

#include <cstdint>

#include "BrisqFramework/IO/BrisqSharedMemory.h"
#include "Quenlo/Quenlo.h"
#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/RingSlotReader.h"

namespace Quenlo {

class PipeMemory {
 public:
  explicit PipeMemory(RingKind kind);
  virtual ~PipeMemory();
  PipeMemory(const PipeMemory&) = delete;
  PipeMemory& operator=(const PipeMemory&) = delete;

  // Reader. Closes, opens the existing mapping `name` (or, when that fails
  // and `name` is a "Global\" name, its "Local\" form) read-only and maps
  // `size` bytes of it; the index becomes -1 (synchronised on the first
  // read). Failures log ERROR "Failed to Open(<name>)" or
  // "Failed to Map(<name>)" (after the mapping's own line), close and
  // return false.
  virtual bool Open(const wchar_t* name, uint32_t size);

  // Writer. Closes, creates (or opens, if the name exists) the mapping
  // `name` of `size` bytes and maps it writable; the index becomes 0. A
  // "Global\" name refused with ERROR_ACCESS_DENIED is created in its
  // "Local\" form, with one WARNING per buffer "Failed to Create(<name>) in
  // the global namespace(access denied), created <local name> instead". The
  // header is written by the video and audio Create. Failures log ERROR
  // "Failed to Create(<name>)" or "Failed to Map(<name>)", close and return
  // false.
  virtual bool Create(const wchar_t* name, uint32_t size);

  // Unmaps and closes the mapping; index -1, no header.
  virtual void Close();

  // True while no mapping handle is held.
  bool IsEmpty() const;

  // Writer. Stores `packet` (kind 1 audio or 2 video) into the next slot,
  // then sets ackRequested := `ack`, lastIndex := that slot and steps on
  // (after the last slot back to 0, with fillState 4). False without a
  // writable mapping (no line). A packet that does not fit the slot is
  // refused with its ERROR line and leaves the ring unchanged; the first
  // such line for a video frame above 1920 x 1080 pixels is
  // "Failed to SendPacket(invalid video size(<w>,<h>)". See
  // RingSlotWriter.h for every refusal.
  bool SendPacket(const MediaPacket& packet, uint32_t ack);

  // The next slot to write (writer) or read (reader); -1 until a reader has
  // synchronised with the writer.
  int32_t Index() const { return index_; }
  // The mapped view, starting with the 48-byte header; null when unmapped.
  const uint8_t* Header() const { return header_; }

 protected:
  // Reader: reads the next slot of this object's kind into *out. Refused
  // slots are logged as ERROR (RingSlotReader.h) and yield false. A video
  // slot is delivered only when written since the last delivery.
  // *took_slot (may be null) tells whether the read took a written slot,
  // delivered or refused (false only when there was nothing to read).
  bool ReadSlot(MediaPacket* out, bool* took_slot = nullptr);

  const RingKind kind_;
  int32_t index_ = -1;
  uint8_t* header_ = nullptr;  // the view of mapping_, when mapped
  RingDelivery delivered_;     // video reader: the last slot delivered
  BrisqFramework::BrisqSharedMemory mapping_;
  bool warned_local_ = false;  // the WARNING of a "Local\" fallback was logged
};

}  // namespace Quenlo

#endif  // QUENLO_PIPEMEMORY_H
