// Arbitrary bytes from a peer, cut into reads of arbitrary sizes, must give
// exactly the messages that the same bytes give in one read, and every blob
// handed to the delegate must be readable to its last byte (ASan checks).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Quenlo/PipeChannelReader.h"

namespace {

struct Event {
  int kind;  // 0 hello, 1 internal broken, 2 user message
  uint32_t type;
  std::string bytes;
  bool operator==(const Event& other) const {
    return kind == other.kind && type == other.type && bytes == other.bytes;
  }
};

class Recorder : public Quenlo::PipeChannelReader::Delegate {
 public:
  std::vector<Event> events;
  void OnHello(int32_t peer) override { events.push_back({0, static_cast<uint32_t>(peer), {}}); }
  void OnInternalBroken() override { events.push_back({1, 0, {}}); }
  void OnUserMessage(uint32_t type, const char* data, uint32_t length) override {
    if (data == nullptr && length != 0) std::abort();
    events.push_back({2, type, data != nullptr ? std::string(data, length) : std::string()});
  }
};

// Feeds `stream` in reads whose sizes come from `sizes` (1..4096 each, cycling);
// false once the reader refused a read.
bool Feed(const std::string& stream, const uint8_t* sizes, size_t size_count, Recorder* recorder) {
  Quenlo::PipeChannelReader reader(recorder);
  size_t at = 0;
  size_t k = 0;
  while (at < stream.size()) {
    size_t n = stream.size() - at;
    if (size_count > 0) {
      const size_t want =
          1 + (sizes[k % size_count] * 17u) % Quenlo::PipeChannelReader::kReadBufferSize;
      ++k;
      if (want < n) n = want;
    }
    if (!reader.TranslateInput(stream.data() + at, n)) return false;
    at += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // First byte: how many of the following bytes choose read sizes.
  const size_t size_count = data[0] % 16;
  if (size < 1 + size_count) return 0;
  const uint8_t* sizes = data + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1 + size_count),
                           size - 1 - size_count);
  if (stream.empty()) return 0;

  Recorder whole;
  const bool whole_ok = Feed(stream, nullptr, 0, &whole);
  Recorder pieces;
  const bool pieces_ok = Feed(stream, sizes, size_count, &pieces);
  if (whole_ok) {
    if (!pieces_ok || !(whole.events == pieces.events)) std::abort();
  }
  return 0;
}
