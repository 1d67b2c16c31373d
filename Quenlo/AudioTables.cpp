#include "Quenlo/AudioTables.h"

namespace Quenlo {
namespace {

constexpr AudioFormatInfo kAudioFormats[] = {
    {0, "Unknown", 0, false}, {1, "u8", 8, false},   {2, "s16", 16, false},
    {3, "s32", 32, false},    {4, "flt", 32, false}, {5, "u8p", 8, true},
    {6, "s16p", 16, true},    {7, "s32p", 32, true}, {8, "fltp", 32, true},
};

// Indexed by value; entry 0 stands for "no layout" and is never returned.
constexpr ChannelLayoutInfo kChannelLayouts[] = {
    {0, "Unknown", 0},    {1, "mono", 1},      {2, "stereo", 2},      {3, "2.1", 3},
    {4, "3.0", 3},        {5, "3.0(back)", 3}, {6, "4.0", 4},         {7, "quad", 4},
    {8, "quad(side)", 4}, {9, "3.1", 4},       {10, "5.0", 5},        {11, "5.0(side)", 5},
    {12, "4.1", 5},       {13, "5.1", 6},      {14, "5.1(side)", 6},  {15, "6.0", 6},
    {16, "6.1", 7},       {17, "7.0", 7},      {18, "7.0(front)", 7}, {19, "7.1", 8},
    {20, "7.1(wide)", 8},
};
constexpr uint32_t kLayoutCount = sizeof(kChannelLayouts) / sizeof(kChannelLayouts[0]);

}  // namespace

const AudioFormatInfo* FindAudioFormat(uint32_t value) {
  for (const AudioFormatInfo& format : kAudioFormats) {
    if (format.value == value) return &format;
  }
  return nullptr;
}

const ChannelLayoutInfo* FindChannelLayout(uint32_t value) {
  if (value == 0 || value >= kLayoutCount) return nullptr;
  return &kChannelLayouts[value];
}

}  // namespace Quenlo
