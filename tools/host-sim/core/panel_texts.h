// panel_texts.h - reading the texts that the panel's window shows.
#ifndef TOOLS_HOST_SIM_CORE_PANEL_TEXTS_H
#define TOOLS_HOST_SIM_CORE_PANEL_TEXTS_H

#include <cstdint>
#include <string>

namespace host_sim {

// The vote count of a result line "<token>  <label>：<votes> 票" (UTF-8),
// read after its last full-width colon; -1 when the line does not end in
// decimal digits followed by " 票".
int64_t votes_in_result_line(const std::string& line);

// The content of a candidate entry "<nickname>：<content>": what follows the
// first full-width colon, or the whole entry when it has none (an empty
// nickname is listed without the colon). Nicknames are taken to hold no
// full-width colon.
std::string content_of_candidate(const std::string& entry);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_PANEL_TEXTS_H
