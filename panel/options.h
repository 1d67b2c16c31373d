#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

// The launch options, as the host passes them. Lives on the entry function's
// stack for the whole run.
struct Options {
  std::wstring pipeName;          // "--pipeName=", taken unchanged
  std::uint32_t maxChannels = 0;  // "--maxChannels=", 0 = missing
  std::wstring halvoryVersion;    // "--halvoryVersion=", kept but unused
  std::int32_t layoutMode = 0;    // "--layoutMode=", kept but unused
};

// Box texts of rejected launch options.
extern const wchar_t* const kErrorPipeNameMissing;
extern const wchar_t* const kErrorMaxChannelsMissing;
extern const wchar_t* const kErrorMaxChannelsInvalid;

// Reads the arguments argv[1] .. argv[argc - 1] (argv[0], the program path, is
// skipped) into `options`. Prefixes are exact and case-sensitive; other
// arguments are ignored; a repeated option takes its last value. Returns null
// when the options are usable, otherwise the text of the error box: a bad
// "--maxChannels=" value (no digits, beyond 32 bits, or 0) stops the reading
// at once; after a full reading a missing pipe name is reported before a
// missing channel count.
const wchar_t* read_options(int argc, const wchar_t* const* argv, Options& options);

}  // namespace tessaly
