#include "sim/SimBus.h"

#include "sim/SimDevice.h"

namespace vxa::sim {

SimBus::SimBus(Clock& clock, LineTiming timing) : clock_(clock), timing_(timing) {
  attached_.reserve(8);
}

SimBus::~SimBus() = default;

SimInstrument& SimBus::AttachInstrument(InstrumentConfig config) {
  std::lock_guard lock(mutex_);
  attached_.push_back(std::make_shared<SimInstrument>(SimInstrument::PassKey{}, clock_, timing_,
                                                      std::move(config), false));
  return *attached_.back();
}

void SimBus::AttachForeignDevice(std::string description) {
  InstrumentConfig config;
  config.description = std::move(description);
  std::lock_guard lock(mutex_);
  attached_.push_back(std::make_shared<SimInstrument>(SimInstrument::PassKey{}, clock_, timing_,
                                                      std::move(config), true));
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
    if (instrument->Listed()) listed.push_back(instrument.get());
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

FtStatus SimBus::OpenByDescription(const std::string& description,
                                   std::unique_ptr<FtDevice>* device) {
  if (device == nullptr) return kFtInvalidParameter;
  std::lock_guard lock(mutex_);
  FtStatus status = kFtDeviceNotFound;
  for (const auto& instrument : attached_) {
    if (instrument->Description() != description || !instrument->Listed()) continue;
    // The first bridge of that description that is not open yet is the one opened.
    if (instrument->TryOpen(&status)) {
      *device = std::make_unique<SimDevice>(instrument);
      return kFtOk;
    }
    if (status != kFtDeviceNotOpened) return status;
  }
  return status;
}

}  // namespace vxa::sim
