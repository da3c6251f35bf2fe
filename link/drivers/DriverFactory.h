#pragma once

#include <memory>
#include <string>

#include "link/FtDriver.h"

namespace vxa {

struct DriverOptions {
  enum class Kind { Serial, LibFtdi, Simulated } kind = Kind::Serial;
  // Serial only: the one port to use (a pseudo-terminal, /dev/ttyUSB0, ...). Empty: every FTDI
  // bridge the kernel's ftdi_sio serves.
  std::string port;
};

// The one place where a backend is chosen. Returns nullptr with the reason in `error` when the
// options name none this function makes.
std::unique_ptr<FtDriver> CreateDriver(const DriverOptions& options, std::string* error);

}  // namespace vxa
