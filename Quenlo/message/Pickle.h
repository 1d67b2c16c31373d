#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Ravoque {

// A growable byte buffer: a header of fixed size at its front, followed by a
// payload of 4-byte-aligned fields appended through a write cursor.
//
// The header begins with `payloadSize` (u32, little-endian), the number of
// payload bytes after the header; derived classes define the rest of it.
//
// A pickle is either writable (it owns its buffer and grows it) or a
// read-only view laid over bytes owned by someone else (nothing is copied or
// freed; the bytes must outlive the view). A view whose bytes do not describe
// a consistent header is invalid and reads as an empty payload.
//
// Not thread-safe: one thread builds or reads a pickle at a time.
class Pickle {
 public:
  // Capacity value that marks a read-only view.
  static constexpr std::size_t kCapacityReadOnly = static_cast<std::size_t>(-1);
  // Payload capacity of a fresh writable pickle.
  static constexpr std::size_t kInitialCapacity = 64;
  // Largest payload a pickle accepts: the largest multiple of 4 that the
  // int32 lengths of readers can still reach, well inside the u32 size field.
  static constexpr std::size_t kMaxPayloadSize = 0x7FFFFFFCu;

  // Writable pickle with `headerSize` zeroed header bytes (rounded up to a
  // multiple of 4, at least 4) and room for kInitialCapacity payload bytes.
  explicit Pickle(std::size_t headerSize);

  // Read-only view over `length` bytes holding one whole pickle. The header
  // size is `length` minus the stored payloadSize; when that is 0, larger
  // than `length` or not a multiple of 4 (or `length` < 4) the view is
  // invalid: Data() is null and every size is 0.
  Pickle(const void* data, std::size_t length);

  // Frees the buffer unless this is a read-only view.
  virtual ~Pickle();

  Pickle(const Pickle&) = delete;
  Pickle& operator=(const Pickle&) = delete;

  // Appends a little-endian int32. False only for a read-only view.
  bool WriteInt(int32_t value);

  // Appends `length` bytes followed by 0-3 zero bytes so that the next field
  // starts at a multiple of 4. False, with nothing written, for a read-only
  // view, for null `data` with a non-zero length, when the payload would
  // exceed kMaxPayloadSize, or when the buffer cannot grow.
  bool WriteBytes(const void* data, std::size_t length);

  // Appends a data blob: the length as int32, then the bytes as by
  // WriteBytes. Lengths that an int32 cannot hold are refused (false) so
  // that a reader never sees a negative length; on any failure nothing is
  // written.
  bool WriteData(const void* data, std::size_t length);

  // Payload bytes after the header (0 for an invalid view).
  std::size_t PayloadSize() const noexcept;
  // Header bytes before the payload (0 for an invalid view).
  std::size_t HeaderSize() const noexcept { return header_size_; }
  // Header plus payload: the bytes to put on the wire.
  std::size_t Size() const noexcept { return header_size_ + PayloadSize(); }
  // Payload bytes the buffer holds without growing, or kCapacityReadOnly.
  std::size_t Capacity() const noexcept { return capacity_; }
  bool IsReadOnly() const noexcept { return capacity_ == kCapacityReadOnly; }

  // The whole buffer (header first), Size() bytes long; null for an invalid
  // view. Valid until the next write or the pickle's destruction.
  const char* Data() const noexcept { return header_; }
  // The payload (Data() + HeaderSize()), PayloadSize() bytes long; null for
  // an invalid view.
  const char* Payload() const noexcept;

 protected:
  // Writable header bytes; null for a read-only view.
  char* MutableHeader() noexcept { return owned_.get(); }
  // Turns a view into an invalid one (used by derived views whose header
  // is too short for their fields).
  void Invalidate() noexcept;

 private:
  struct FreeDeleter {
    void operator()(char* p) const noexcept;
  };

  // Makes room for `length` more payload bytes, zeroes the padding behind
  // them and returns where the caller copies them; null when the write is
  // refused (the pickle is then unchanged).
  char* ClaimBytes(std::size_t length);
  bool Grow(std::size_t newCapacity);
  void SetPayloadSize(std::size_t size) noexcept;

  std::unique_ptr<char, FreeDeleter> owned_;  // null for a read-only view
  const char* header_ = nullptr;              // owned_.get() or the viewed bytes
  std::size_t header_size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t write_offset_ = 0;
};

// Little-endian loads and stores of the wire format's 32-bit fields; the
// pointers need no alignment.
uint32_t LoadLE32(const void* p) noexcept;
void StoreLE32(void* p, uint32_t value) noexcept;

}  // namespace Ravoque
