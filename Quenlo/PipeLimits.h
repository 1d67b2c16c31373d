// PipeLimits.h - bounds that both ends of a pipe apply to their arguments.
//
// Internal to the library (not part of Quenlo.h's binary interface): the
// client's Create and the server's Open refuse a channel count above
// kMaxPipeChannels. Each channel costs named kernel objects (two semaphores
// and an event, plus two mappings once used, and on the server two reader
// threads), all made on the caller's or the runner's thread; an absurd count
// such as 4294967295 (a "-1" read as unsigned) would make billions of them
// and never return.
#ifndef QUENLO_PIPELIMITS_H
#define QUENLO_PIPELIMITS_H

#include <cstdint>

#include "Quenlo/Quenlo.h"

namespace Quenlo {

// The largest channel count a pipe accepts. Counts 0 to kMaxPipeChannels are
// valid; 0 means messages only, no media channels. Hosts read the same bound
// as kMaxChannels in Quenlo.h; this name is the one the library's code uses.
constexpr uint32_t kMaxPipeChannels = kMaxChannels;

}  // namespace Quenlo

#endif  // QUENLO_PIPELIMITS_H
