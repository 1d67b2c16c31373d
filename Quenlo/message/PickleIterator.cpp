#include "Quenlo/message/PickleIterator.h"

namespace Ravoque {

PickleIterator::PickleIterator(const Pickle& pickle) noexcept
    : payload_(pickle.Payload()), end_index_(pickle.PayloadSize()) {}

bool PickleIterator::ReadBytes(const char** data, int length) noexcept {
  *data = nullptr;
  if (length < 0 || static_cast<std::size_t>(length) > RemainingBytes()) {
    read_index_ = end_index_;
    return false;
  }
  *data = payload_ + read_index_;
  // length <= RemainingBytes() <= SIZE_MAX - 3, so the padding cannot wrap.
  const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~static_cast<std::size_t>(3);
  read_index_ = padded < RemainingBytes() ? read_index_ + padded : end_index_;
  return true;
}

bool PickleIterator::ReadInt(int32_t* result) noexcept {
  const char* bytes = nullptr;
  if (!ReadBytes(&bytes, static_cast<int>(sizeof(int32_t)))) return false;
  *result = static_cast<int32_t>(LoadLE32(bytes));
  return true;
}

bool PickleIterator::ReadData(const char** data, int* length) noexcept {
  *data = nullptr;
  *length = 0;
  int32_t declared = 0;
  if (!ReadInt(&declared)) return false;
  if (!ReadBytes(data, declared)) return false;
  *length = declared;
  return true;
}

}  // namespace Ravoque
