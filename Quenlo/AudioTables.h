// AudioTables.h - the audio sample formats and channel layouts the library
// knows, behind the exports AudioFormatToBits and ChannelLayoutToChannels.
#ifndef QUENLO_AUDIOTABLES_H
#define QUENLO_AUDIOTABLES_H

#include <cstdint>

namespace Quenlo {

struct AudioFormatInfo {
  uint32_t value;
  const char* name;
  uint32_t bits;  // per sample
  bool planar;
};

struct ChannelLayoutInfo {
  uint32_t value;
  const char* name;
  uint32_t channels;
};

// The entry for `value` among the 9 sample formats (0 "Unknown" to 8 "fltp"),
// or null.
const AudioFormatInfo* FindAudioFormat(uint32_t value);

// The entry for `value` among the channel layouts 1 "mono" to 20 "7.1(wide)",
// or null (0 "Unknown" included: it has no channels).
const ChannelLayoutInfo* FindChannelLayout(uint32_t value);

}  // namespace Quenlo

#endif  // QUENLO_AUDIOTABLES_H
