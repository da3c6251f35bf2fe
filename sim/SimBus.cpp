#include "sim/SimBus.h"

#include <cstdio>

#include "sim/SimDevice.h"

namespace vxa::sim {

SimBus::SimBus(Clock& clock, LineTiming timing)
    : clock_(clock), timing_(timing), start_(clock.Now()) {
  attached_.reserve(8);
}

SimBus::~SimBus() = default;

InstrumentConfig SimBus::Placed(InstrumentConfig config) const {
  const size_t place = attached_.size() + detached_.size();
  if (config.location.empty()) config.location = "SIM" + std::to_string(place);
  if (config.bridgeSerial.empty()) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "FTSIM%03zu", place + 1);
    config.bridgeSerial = serial;
  }
  return config;
}

SimInstrument& SimBus::AttachInstrument(InstrumentConfig config, Clock* clock) {
  std::lock_guard lock(mutex_);
  attached_.push_back(std::make_shared<SimInstrument>(SimInstrument::PassKey{},
                                                      clock != nullptr ? *clock : clock_, timing_,
                                                      Placed(std::move(config)), false));
  return *attached_.back();
}

void SimBus::SchedulePlugs(SimInstrument& instrument, const std::vector<PlugEvent>& events) {
  std::vector<PlugSchedule::Event> schedule;
  schedule.reserve(events.size());
  for (const PlugEvent& event : events) schedule.push_back({start_ + event.after, event.plugged});
  instrument.SetPlugSchedule(PlugSchedule(std::move(schedule)));
}

void SimBus::AttachForeignDevice(std::string description) {
  InstrumentConfig config;
  config.description = std::move(description);
  std::lock_guard lock(mutex_);
  attached_.push_back(std::make_shared<SimInstrument>(SimInstrument::PassKey{}, clock_, timing_,
                                                      Placed(std::move(config)), true));
}

void SimBus::DetachAll() {
  std::lock_guard lock(mutex_);
  for (auto& instrument : attached_) {
    instrument->Unplug();
    detached_.push_back(std::move(instrument));
  }
  attached_.clear();
}

int SimBus::OpenHandles() const {
  std::lock_guard lock(mutex_);
  int open = 0;
  for (const auto& instrument : attached_) open += instrument->IsOpen() ? 1 : 0;
  for (const auto& instrument : detached_) open += instrument->IsOpen() ? 1 : 0;
  return open;
}

std::vector<SimInstrument*> SimBus::ListedLocked() const {
  std::vector<SimInstrument*> listed;
  listed.reserve(attached_.size());
  for (const auto& instrument : attached_) {
    if (instrument->Listed(clock_.Now())) listed.push_back(instrument.get());
  }
  return listed;
}

FtStatus SimBus::CountDevices(uint32_t* count) {
  if (count == nullptr) return kFtInvalidParameter;
  std::lock_guard lock(mutex_);
  const auto listed = ListedLocked();
  *count = static_cast<uint32_t>(listed.size());
  FtStatus status = listed.empty() ? kFtDeviceNotFound : kFtOk;
  for (SimInstrument* instrument : listed) {
    FtStatus failure;
    if (status == kFtOk && instrument->TakeFailure(Call::CountDevices, &failure)) {
      status = failure;
      *count = 0;
    }
  }
  for (SimInstrument* instrument : listed) instrument->Record(Call::CountDevices, *count);
  return status;
}

FtStatus SimBus::DeviceDescription(uint32_t index, std::string* description) {
  if (description == nullptr) return kFtInvalidParameter;
  std::lock_guard lock(mutex_);
  const auto listed = ListedLocked();
  if (index >= listed.size()) return kFtDeviceNotFound;
  SimInstrument* instrument = listed[index];
  instrument->Record(Call::DeviceDescription, index);
  FtStatus failure;
  if (instrument->TakeFailure(Call::DeviceDescription, &failure)) return failure;
  *description = instrument->Description();
  return kFtOk;
}

FtStatus SimBus::DescribeDevice(uint32_t index, BridgeInfo* bridge) {
  if (bridge == nullptr) return kFtInvalidParameter;
  *bridge = BridgeInfo{.index = index};
  if (const FtStatus status = DeviceDescription(index, &bridge->description); status != kFtOk) {
    return status;
  }
  std::lock_guard lock(mutex_);
  const auto listed = ListedLocked();
  if (index >= listed.size()) return kFtDeviceNotFound;
  bridge->location = listed[index]->config().location;
  bridge->serialNumber = listed[index]->config().bridgeSerial;
  return kFtOk;
}

template <typename Match>
FtStatus SimBus::OpenFirst(Match matches, std::unique_ptr<FtDevice>* device) {
  if (device == nullptr) return kFtInvalidParameter;
  std::lock_guard lock(mutex_);
  FtStatus status = kFtDeviceNotFound;
  for (const auto& instrument : attached_) {
    const Clock::TimePoint now = clock_.Now();
    if (!matches(instrument->config()) || !instrument->Listed(now)) continue;
    if (instrument->TryOpen(now, &status)) {
      *device = std::make_unique<SimDevice>(instrument);
      return kFtOk;
    }
    if (status != kFtDeviceNotOpened) return status;
  }
  return status;
}

FtStatus SimBus::OpenByDescription(const std::string& description,
                                   std::unique_ptr<FtDevice>* device) {
  // The first bridge of that description that is not open yet is the one opened.
  return OpenFirst(
      [&](const InstrumentConfig& config) { return config.description == description; }, device);
}

FtStatus SimBus::OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) {
  return OpenFirst(
      [&](const InstrumentConfig& config) {
        return config.description == bridge.description && config.location == bridge.location &&
               config.bridgeSerial == bridge.serialNumber;
      },
      device);
}

}  // namespace vxa::sim
