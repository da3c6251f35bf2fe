#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/FtDriver.h"
#include "link/drivers/ListingDriver.h"

namespace vxa {

// One COM port of an FTDI bridge as the system lists it.
struct ComPort {
  std::string name;         // "COM5"
  std::string description;  // the product string the bridge reports on the bus
};

// Bridges through Windows' COM ports. Either the ports of FTDI bridges (USB vendor 0403) that
// the system's device list shows, each described by the product string its USB device reports,
// or one port named by the user ("COM5"), which then stands for the instrument whatever it is.
class ComPortDriver final : public ListingDriver<ComPort> {
 public:
  explicit ComPortDriver(std::string port);

 private:
  FtStatus List(std::vector<ComPort>* ports) override;
  bool PortNamedByUser() const override { return !port_.empty(); }
  // The port's name is its location; the system's list of ports tells no bridge serial number.
  BridgeInfo Describe(const ComPort& port) const override {
    return {.description = port.description, .location = port.name};
  }
  FtStatus OpenListed(const ComPort& port, std::unique_ptr<FtDevice>* device) override;

  const std::string port_;
};

// The COM ports of FTDI bridges present now, in the order of their numbers (ComPortListing.cpp).
std::vector<ComPort> ListFtdiComPorts();

}  // namespace vxa
