#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/FtDriver.h"
#include "link/drivers/DriverErrorReport.h"
#include "link/drivers/FtdiSeam.h"

namespace vxa {

// Bridges driven from user space through libftdi1: listed over FTDI's usual product ids, opened
// by their exact USB product string. Needs read/write access to the USB node (a udev rule) and
// takes the bridge away from the kernel's ftdi_sio while it is open.
class LibFtdiDriver final : public FtDriver, public DriverErrorReport {
 public:
  LibFtdiDriver();
  // Over another bus than libftdi's: the tests' scripted one.
  explicit LibFtdiDriver(std::unique_ptr<ftdi::FtdiBus> bus);
  ~LibFtdiDriver() override;

  FtStatus CountDevices(uint32_t* count) override;
  FtStatus DeviceDescription(uint32_t index, std::string* description) override;
  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) override;

  std::string LastError() const override { return error_.Get(); }

 private:
  FtStatus List(std::vector<ftdi::FtdiUsbDevice>* devices);
  std::string NodesWithoutPermission();

  std::unique_ptr<ftdi::FtdiBus> bus_;
  std::mutex mutex_;                          // one libftdi call at a time, and guards listing_
  std::vector<ftdi::FtdiUsbDevice> listing_;  // as of the latest CountDevices
  ErrorNote error_;
};

}  // namespace vxa
