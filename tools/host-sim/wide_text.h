// wide_text.h - UTF-8 <-> UTF-16 at host-sim's Windows boundary.
#ifndef TOOLS_HOST_SIM_WIDE_TEXT_H
#define TOOLS_HOST_SIM_WIDE_TEXT_H

#include <string>

namespace host_sim {

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring widen(const std::string& text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string narrow(const std::wstring& text);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_WIDE_TEXT_H
