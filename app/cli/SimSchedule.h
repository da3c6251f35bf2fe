#pragma once

#include <string>
#include <vector>

#include "app/Backend.h"

namespace vxa::cli {

// --sim-plug and --sim-unplug: INSTRUMENT:SECONDS[,INSTRUMENT:SECONDS...], each the index of a
// simulated instrument (0-7) and a whole number of seconds of the simulator's time, e.g.
// "0:0,1:5,2:5,3:12". Appends to `plugs`; false when the text is not that.
bool ParsePlugSchedule(const std::string& text, bool plugged, std::vector<SimPlugEntry>* plugs);

}  // namespace vxa::cli
