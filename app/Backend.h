#pragma once

#include <memory>
#include <string>

#include "link/Clock.h"
#include "link/FtDriver.h"

namespace vxa {
namespace sim {
class SimBus;
}

struct BackendOptions {
  bool sim = false;       // the built-in simulated instrument
  bool simFast = false;   // ... in virtual time: the line and the install take no real time
  std::string port;       // a serial port named by path instead of the USB listing
  std::string driver;     // "serial" (default) or "libftdi"
};

// The link the program talks over and the clock it keeps time by, chosen once at start-up.
class Backend {
 public:
  // Null with the reason in `error` when the choice cannot be made (an unknown driver name).
  static std::unique_ptr<Backend> Create(const BackendOptions& options, std::string* error);
  ~Backend();

  FtDriver& Driver() { return *driver_; }
  Clock& clock() { return *clock_; }
  // The simulated bus, when the program runs against the simulator.
  sim::SimBus* Simulator() { return simulator_; }

 private:
  Backend() = default;

  std::unique_ptr<Clock> clock_;
  std::unique_ptr<FtDriver> driver_;
  sim::SimBus* simulator_ = nullptr;
};

}  // namespace vxa
