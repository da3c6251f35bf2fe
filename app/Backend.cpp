#include "app/Backend.h"

#include "link/drivers/DriverFactory.h"
#include "sim/SimBus.h"

namespace vxa {

Backend::~Backend() = default;

std::unique_ptr<Backend> Backend::Create(const BackendOptions& options, std::string* error) {
  std::unique_ptr<Backend> backend(new Backend());
  if (options.sim) {
    if (options.simFast) {
      backend->clock_ = std::make_unique<VirtualClock>();
    } else {
      backend->clock_ = std::make_unique<RealClock>();
    }
    auto bus = std::make_unique<sim::SimBus>(*backend->clock_);
    bus->AttachInstrument();
    backend->simulator_ = bus.get();
    backend->driver_ = std::move(bus);
    return backend;
  }
  backend->clock_ = std::make_unique<RealClock>();
  DriverOptions driverOptions;
  driverOptions.port = options.port;
  if (options.driver.empty() || options.driver == "serial") {
    driverOptions.kind = DriverOptions::Kind::Serial;
  } else if (options.driver == "libftdi") {
    driverOptions.kind = DriverOptions::Kind::LibFtdi;
  } else {
    if (error != nullptr) *error = "unknown driver \"" + options.driver + "\" (serial or libftdi)";
    return nullptr;
  }
  backend->driver_ = CreateDriver(driverOptions, error);
  if (!backend->driver_) return nullptr;
  return backend;
}

}  // namespace vxa
