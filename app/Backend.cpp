#include "app/Backend.h"

#include "app/HelpText.h"
#include "app/PlatformHelp.h"
#include "text/Messages.h"

#include "link/drivers/D2xxDriver.h"
#include "link/drivers/PlatformDrivers.h"
#include "sim/SimBus.h"

// The only file of app/ that knows the backends themselves: everything else sees an FtDriver.

namespace vxa {
namespace {

std::unique_ptr<Backend> Refuse(std::string* error, std::string why) {
  if (error != nullptr) *error = std::move(why);
  return nullptr;
}

constexpr DriverChoice kAllDrivers[] = {
    {"serial", msg::kDriverSerialNote},
    {"libftdi", msg::kDriverLibFtdiNote},
    {"d2xx", msg::kDriverD2xxNote},
};

// Those built on this platform: libftdi is the last but one, and only where it is built in.
std::span<const DriverChoice> Drivers() {
  if (LibFtdiBuiltIn()) return kAllDrivers;
  static constexpr DriverChoice kWithoutLibFtdi[] = {kAllDrivers[0], kAllDrivers[2]};
  return kWithoutLibFtdi;
}

}  // namespace

std::span<const DriverChoice> DriverChoices() { return Drivers(); }

bool IsDriverName(std::string_view name) {
  for (const DriverChoice& driver : Drivers()) {
    if (name == driver.name) return true;
  }
  return false;
}

std::string DriverHelp() {
  std::vector<std::string> words;
  for (const DriverChoice& driver : Drivers()) {
    words.push_back(std::string(driver.name) + " " + VXA_MSG(PlatformHelpText(driver.note)));
  }
  return ListOf(words);
}

std::string DriverNames() {
  std::vector<std::string> words;
  for (const DriverChoice& driver : Drivers()) words.emplace_back(driver.name);
  return ListOf(words);
}

Backend::~Backend() = default;

Clock& Backend::ClockOf(const BridgeInfo& bridge) {
  const auto own = clockAt_.find(bridge.location);
  return own != clockAt_.end() ? *own->second : *clock_;
}

bool IsSimFaultName(const std::string& name) {
  bool known = false;
  sim::FaultFromName(name, &known);
  return known;
}

std::unique_ptr<Backend> Backend::Simulated(const BackendOptions& options, std::string* error) {
  std::unique_ptr<Backend> backend(new Backend());
  std::vector<std::pair<int, sim::FaultSpec>> faults;
  for (const SimFaultSpec& asked : options.simFaults) {
    bool known = false;
    const sim::Fault fault = sim::FaultFromName(asked.name, &known);
    if (!known) return Refuse(error, "unknown fault \"" + asked.name + "\"");
    if (asked.instrument >= options.simInstruments) {
      return Refuse(error, "no simulated instrument " + std::to_string(asked.instrument) +
                               " for fault \"" + asked.name + "\"");
    }
    faults.emplace_back(asked.instrument, sim::FaultSpec{.fault = fault,
                                                         .count = asked.count,
                                                         .skip = asked.skip,
                                                         .onCommand = asked.onCommand,
                                                         .value = asked.value});
  }
  for (const SimPlugEntry& plug : options.simPlugs) {
    if (plug.instrument >= options.simInstruments) {
      return Refuse(error, "no simulated instrument " + std::to_string(plug.instrument) +
                               " to plug in or pull out");
    }
  }
  const LocalDateTime start = options.virtualStart.value_or(RealClock().LocalTime());
  auto virtualClock = [&start] {
    auto clock = std::make_unique<VirtualClock>();
    clock->SetLocalTime(start);
    return clock;
  };
  if (options.virtualTime) {
    backend->clock_ = virtualClock();
  } else {
    backend->clock_ = std::make_unique<RealClock>();
  }
  auto bus = std::make_unique<sim::SimBus>(*backend->clock_);
  sim::InstrumentConfig config;
  for (int i = 0; i < options.simInstruments; ++i, ++config.serialNumber) {
    // The first keeps the program's clock: alone it is the instrument of the usual search.
    Clock* clock = backend->clock_.get();
    if (options.virtualTime && (i > 0 || options.ownClocks)) {
      clock = backend->instrumentClocks_.emplace_back(virtualClock()).get();
    }
    sim::SimInstrument& instrument = bus->AttachInstrument(config, clock);
    backend->clockAt_[instrument.config().location] = clock;
    for (const auto& [target, fault] : faults) {
      if (target < 0 || target == i) instrument.Inject(fault);
    }
    std::vector<sim::SimBus::PlugEvent> plugs;
    for (const SimPlugEntry& plug : options.simPlugs) {
      if (plug.instrument == i) plugs.push_back({plug.at, plug.plugged});
    }
    if (!plugs.empty()) bus->SchedulePlugs(instrument, plugs);
  }
  backend->driver_ = std::move(bus);
  return backend;
}

std::unique_ptr<Backend> CreateBackend(const BackendOptions& options, std::string* error) {
  if (options.sim) return Backend::Simulated(options, error);
  std::unique_ptr<Backend> backend(new Backend());
  backend->clock_ = std::make_unique<RealClock>();
  if (options.driver.empty() || options.driver == "serial") {
    backend->driver_ = CreateSystemSerialDriver(options.port);
    return backend;
  }
  if (!IsDriverName(options.driver)) {
    return Refuse(error, FormatText(VXA_MSG(msg::kUnknownDriver), options.driver.c_str(),
                                    DriverNames().c_str()));
  }
  // libftdi and the vendor's library find the bridges on the USB themselves; a port is a name
  // for the system's serial driver.
  if (!options.port.empty()) {
    return Refuse(error, "a port name applies to the serial-port backend only");
  }
  if (options.driver == "libftdi") {
    backend->driver_ = CreateLibFtdiDriver(error);
  } else {
    backend->driver_ = D2xxDriver::Load(D2xxLibraryName(), error);
  }
  if (!backend->driver_) return nullptr;
  return backend;
}

}  // namespace vxa
