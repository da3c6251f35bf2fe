#pragma once

#include <memory>
#include <string>

#include "link/FtDriver.h"

namespace vxa {

// The backends that exist on one platform only. Each platform has its own file defining these
// (PlatformDriversLinux.cpp, PlatformDriversWindows.cpp), so that the factory names no platform.

// The system's serial ports: ttyUSB and pseudo-terminals on Linux, COM ports on Windows. `port`
// names one to use whatever it is; empty looks for the bridges the system lists.
std::unique_ptr<FtDriver> CreateSystemSerialDriver(const std::string& port);

// libftdi1, where it is built in. Null, with the reason in `error`, where it is not.
std::unique_ptr<FtDriver> CreateLibFtdiDriver(std::string* error);
// Whether it is: the front ends neither offer nor take a backend the platform does not have.
bool LibFtdiBuiltIn();

}  // namespace vxa
