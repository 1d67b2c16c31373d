#pragma once

#include <cstddef>
#include <cstdint>

#include "Quenlo/message/Pickle.h"

namespace Ravoque {

// Read cursor over a pickle's payload. Reads fail closed: a read that does not
// fit what is left moves the cursor to the end, so it and every later read
// fail. Pointers handed out point into the pickle's buffer and are valid as
// long as that buffer is (for a view: the received bytes).
class PickleIterator {
 public:
  // Cursor at the start of `pickle`'s payload; an invalid view gives an
  // empty payload on which every read but a 0-byte one fails.
  explicit PickleIterator(const Pickle& pickle) noexcept;

  // Reads a little-endian int32 into *result; needs 4 bytes left. On
  // failure *result is left as it was.
  bool ReadInt(int32_t* result) noexcept;

  // Points *data at the next `length` bytes and skips them and their padding
  // (never past the end, so a last field without padding still reads). A
  // negative length or one beyond what is left fails with *data null.
  bool ReadBytes(const char** data, int length) noexcept;

  // Reads a data blob (int32 length, then that many bytes). On failure
  // *data is null and *length 0.
  bool ReadData(const char** data, int* length) noexcept;

  // Payload bytes not yet consumed.
  std::size_t RemainingBytes() const noexcept { return end_index_ - read_index_; }

 private:
  const char* payload_;
  std::size_t read_index_ = 0;
  std::size_t end_index_;
};

}  // namespace Ravoque
