#pragma once

// The simulated instrument as a driver backend: a USB bus with simulated FTDI bridges on it, an
// instrument behind each. Everything of the simulator is reachable from this header.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/FtDriver.h"
#include "sim/InstrumentModel.h"
#include "sim/SimInstrument.h"
#include "sim/SimTypes.h"

namespace vxa::sim {

class SimBus final : public FtDriver {
 public:
  explicit SimBus(Clock& clock, LineTiming timing = {});
  ~SimBus() override;
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;

  // The reference stays valid for the life of the bus, also after DetachAll. The instrument keeps
  // time by `clock` when one is given (it must outlive the bus), else by the bus's.
  SimInstrument& AttachInstrument(InstrumentConfig config = {}, Clock* clock = nullptr);
  // When the instrument's bridge is plugged in and pulled out, in the bus's time from its making:
  // listed only while plugged in, and a handle opened on it fails from its pull on as an
  // unplugged bridge's does. Without a schedule a bridge is there from the start.
  struct PlugEvent {
    Clock::Duration after;
    bool plugged;  // false: pulled
  };
  void SchedulePlugs(SimInstrument& instrument, const std::vector<PlugEvent>& events);
  // Another FTDI-based adapter, e.g. "USB Serial Converter": listed and openable, nothing answers.
  void AttachForeignDevice(std::string description);
  // Takes every bridge off the bus; open handles on them fail from now on with kFtIoError.
  void DetachAll();
  int OpenHandles() const;  // handles opened and not yet closed, over all devices

  Clock& clock() const { return clock_; }
  const LineTiming& timing() const { return timing_; }

  // kFtDeviceNotFound with a count of 0 when nothing is attached.
  FtStatus CountDevices(uint32_t* count) override;
  FtStatus DeviceDescription(uint32_t index, std::string* description) override;
  // Exact match; kFtDeviceNotFound if none; kFtDeviceNotOpened when every match is open already.
  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) override;
  FtStatus DescribeDevice(uint32_t index, BridgeInfo* bridge) override;
  // The bridge of that location and serial number, if it is still attached.
  FtStatus OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) override;
  // The status says it all: a simulated bridge has no cause beyond it to tell.
  std::string LastError() const override { return {}; }

 private:
  std::vector<SimInstrument*> ListedLocked() const;
  // Gives the bridge a serial number and a place by the order of attaching, unless set.
  InstrumentConfig Placed(InstrumentConfig config) const;
  // Opens the first listed bridge `matches` accepts that is not open yet.
  template <typename Match>
  FtStatus OpenFirst(Match matches, std::unique_ptr<FtDevice>* device);

  Clock& clock_;
  const LineTiming timing_;
  const Clock::TimePoint start_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimInstrument>> attached_;
  std::vector<std::shared_ptr<SimInstrument>> detached_;
};

}  // namespace vxa::sim
