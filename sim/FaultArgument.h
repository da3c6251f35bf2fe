#pragma once

#include <string>
#include <string_view>

#include "sim/SimTypes.h"

namespace vxa::sim {

// One fault as it is written on a command line: NAME[:count[:skip[:value[:command]]]], e.g.
// "corrupt-read-back:1:0:1000" or "drop-answer:1:2::0x33". An empty field keeps the default
// (count 1, skip 0, the fault's own value, any command); count -1 fires for ever. Numbers are
// decimal or 0x-hexadecimal. Returns false with the reason in `error` when it does not parse.
bool ParseFaultArgument(std::string_view argument, FaultSpec* faultSpec, std::string* error);

}  // namespace vxa::sim
