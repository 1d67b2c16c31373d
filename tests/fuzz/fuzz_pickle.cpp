// Cuts arbitrary bytes into messages the way the pipe reader does, lays a view
// over each and reads fields from it in an order chosen by the bytes; then
// round-trips the input through the writer. Aborts on any read outside the
// message or any broken invariant of the cursor.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Quenlo/message/IPCMessage.h"
#include "Quenlo/message/PickleIterator.h"

namespace {

using Ravoque::IPCMessage;
using Ravoque::Pickle;
using Ravoque::PickleIterator;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Touches every byte of a returned range so that ASan sees out-of-range reads.
unsigned Touch(const char* data, int length) {
  unsigned sum = 0;
  for (int i = 0; i < length; ++i) sum += static_cast<unsigned char>(data[i]);
  return sum;
}

void ReadFields(const Pickle& view, uint32_t script) {
  PickleIterator it(view);
  const char* begin = view.Payload();
  const char* end = begin + view.PayloadSize();
  volatile unsigned sink = 0;
  for (int step = 0; step < 64; ++step) {
    const std::size_t before = it.RemainingBytes();
    const char* data = nullptr;
    int length = 0;
    bool ok = false;
    switch ((script >> (2 * (step % 16))) & 3) {
      case 0: {
        int32_t value = 0;
        ok = it.ReadInt(&value);
        length = 4;
        data = ok ? end - before : nullptr;
        break;
      }
      case 1:
        ok = it.ReadData(&data, &length);
        break;
      case 2:
        length = static_cast<int>(step * 3) - 7;
        ok = it.ReadBytes(&data, length);
        break;
      default: {
        int32_t n = 0;
        ok = it.ReadInt(&n) && it.ReadBytes(&data, n);
        length = ok ? n : 0;
        break;
      }
    }
    Check(it.RemainingBytes() <= before);
    if (!ok) {
      Check(it.RemainingBytes() == 0);  // fail closed
      Check(data == nullptr || length == 4);
      return;
    }
    if (length > 0) {
      Check(data >= begin && data + length <= end);
      sink = sink + Touch(data, length);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
  const char* start = reinterpret_cast<const char*>(bytes);
  const char* end = start + size;

  const char* pos = start;
  IPCMessage::FrameInfo info;
  while (IPCMessage::FindNext(pos, end, &info)) {
    Check(info.messageEnd == pos + info.messageSize && info.messageEnd <= end);
    IPCMessage view(pos, static_cast<std::size_t>(info.messageSize));
    Check(view.Data() == pos && view.HeaderSize() == IPCMessage::kHeaderSize);
    Check(view.Size() == info.messageSize);
    ReadFields(view, view.Flags() ^ view.Type());
    pos = info.messageEnd;
  }
  Check(info.messageSize == 0 || info.messageSize > static_cast<uint64_t>(end - pos));

  // Views over bytes that were never delimited must stay inside them too.
  Pickle loose(start, size);
  if (loose.Data() != nullptr) {
    Check(loose.Size() == size && loose.HeaderSize() % 4 == 0 && loose.HeaderSize() > 0);
    ReadFields(loose, size >= 8 ? Ravoque::LoadLE32(start + 4) : 0);
  }
  IPCMessage looseMessage(start, size);
  if (looseMessage.Data() != nullptr) ReadFields(looseMessage, looseMessage.Type());

  // Whatever is written comes back byte for byte from a view of the wire bytes.
  IPCMessage written(static_cast<uint32_t>(size));
  Check(written.WriteData(start, size));
  Check(written.PayloadSize() % 4 == 0);
  Check(IPCMessage::FindNext(written.Data(), written.Data() + written.Size(), &info));
  IPCMessage back(written.Data(), written.Size());
  PickleIterator it(back);
  const char* data = nullptr;
  int length = -1;
  Check(it.ReadData(&data, &length) && static_cast<std::size_t>(length) == size);
  Check(size == 0 || std::memcmp(data, start, size) == 0);
  Check(it.RemainingBytes() == 0);
  return 0;
}
