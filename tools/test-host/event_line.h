// event_line.h - the test host's one-line description of an event.
//
// Every event the host's callback receives becomes one line of text (no
// line feed), so that a test can read the host's stdout line by line:
//
//   connected | broken | disconnected | reset
//   message type=<t> length=<n> text=<bytes>     (printable UTF-8 without
//                                                 control characters)
//   message type=<t> length=<n> hex=<hh hh ...>  (anything else)
//   packet kind=video channel=<c> width=<w> height=<h> format=<f> flip=<0|1>
//          stride=<s> timestamp=<ns> bytes=<n> checksum=<8 hex digits>
//   packet kind=audio channel=<c> info=<u32 at 16> timestamp=<ns> bytes=<n>
//          checksum=<8 hex digits>
//   packet kind=<k> channel=<c> timestamp=<ns>    (kinds the library ignores)
//   event <number>                               (values outside the enum)
//
// The checksum is FNV-1a (32 bits) over the packet's payload as it lies in
// the ring slot: the planes of the video format one after another (rows
// packed, stored bottom-up when flipped), or the audio bytes.
#ifndef TOOLS_TEST_HOST_EVENT_LINE_H
#define TOOLS_TEST_HOST_EVENT_LINE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "Quenlo/Quenlo.h"

namespace test_host {

// The line for one callback call. `data` is read only during the call.
std::string FormatEvent(uint32_t event, uint32_t type, const char* data, uint32_t length);

// FNV-1a over `size` bytes, continuing from `hash`.
uint32_t Fnv1a(const uint8_t* data, size_t size, uint32_t hash = 2166136261u);

// True when the bytes are well-formed UTF-8 without control characters.
bool IsPrintableUtf8(const char* data, size_t size);

}  // namespace test_host

#endif  // TOOLS_TEST_HOST_EVENT_LINE_H
