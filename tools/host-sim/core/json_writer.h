// json_writer.h - compact JSON text of a minijson::Value.
#ifndef TOOLS_HOST_SIM_CORE_JSON_WRITER_H
#define TOOLS_HOST_SIM_CORE_JSON_WRITER_H

#include <string>

#include "panel/live/minijson.h"

namespace host_sim {

// The value as JSON text without white space: numbers as their source
// characters, strings escaped with minijson::escape_string, object members in
// the value's (ascending key) order. Reading the result with minijson::parse
// gives an equal value. Recursion depth is that of the value, which
// minijson::parse already caps.
std::string write_json(const minijson::Value& value);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_CORE_JSON_WRITER_H
