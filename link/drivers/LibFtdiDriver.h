#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/FtDriver.h"
#include "link/drivers/FtdiSeam.h"
#include "link/drivers/ListingDriver.h"

namespace vxa {

// Bridges driven from user space through libftdi1: listed over FTDI's usual product ids, opened
// by their exact USB product string. Needs read/write access to the USB node (a udev rule) and
// takes the bridge away from the kernel's ftdi_sio while it is open.
class LibFtdiDriver final : public ListingDriver<ftdi::FtdiUsbDevice> {
 public:
  LibFtdiDriver();
  // Over another bus than libftdi's: the tests' scripted one.
  explicit LibFtdiDriver(std::unique_ptr<ftdi::FtdiBus> bus);
  ~LibFtdiDriver() override;

 private:
  FtStatus List(std::vector<ftdi::FtdiUsbDevice>* devices) override;
  FtStatus Open(const std::string& description, std::unique_ptr<FtDevice>* device) override;
  // The USB node is the location.
  BridgeInfo Describe(const ftdi::FtdiUsbDevice& device) const override {
    return {.description = device.description,
            .location = device.node,
            .serialNumber = device.serialNumber};
  }
  FtStatus OpenListed(const ftdi::FtdiUsbDevice& listed, std::unique_ptr<FtDevice>* device) override;
  // Notes what libftdi's failure to open means for the user; the status to return.
  FtStatus OpenFailed(int failure, const std::string& failureText);
  std::string NodesWithoutPermission();

  // Called only from List and Open, which take turns: one libftdi call at a time.
  std::unique_ptr<ftdi::FtdiBus> bus_;
};

}  // namespace vxa
