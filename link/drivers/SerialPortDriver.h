#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/FtDriver.h"
#include "link/drivers/ListingDriver.h"

namespace vxa {

// One port as the listing found it.
struct SerialPort {
  std::string ttyName;  // "ttyUSB0", or empty for a port that is no usb-serial one
  std::string path;
  std::string description;
  std::string serialNumber;  // the USB device's, from sysfs; empty for a port named by the user
};

// Bridges through the kernel's serial ports. Either the ftdi_sio ports that sysfs shows
// (/dev/ttyUSBn whose USB device has vendor 0403), identified by their USB product string, or one
// port named by the user (a pseudo-terminal or a /dev/ttyUSBn), which then stands for the
// instrument whatever it is.
class SerialPortDriver final : public ListingDriver<SerialPort> {
 public:
  // What a port named explicitly calls itself in the listing: the instrument's own description,
  // so that the program's open by description finds it.
  static constexpr const char* kExplicitPortDescription = "VXA-4410 Vibration Analyzer";

  struct Options {
    std::string port;  // empty: look for FTDI bridges in sysfs
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
  };

  SerialPortDriver() : SerialPortDriver(Options{}) {}
  explicit SerialPortDriver(std::string port) : SerialPortDriver(Options{std::move(port)}) {}
  explicit SerialPortDriver(Options options);

 private:
  FtStatus List(std::vector<SerialPort>* ports) override;
  bool PortNamedByUser() const override { return !options_.port.empty(); }
  BridgeInfo Describe(const SerialPort& port) const override;
  FtStatus OpenListed(const SerialPort& port, std::unique_ptr<FtDevice>* device) override;
  std::vector<SerialPort> ScanSysfs() const;

  const Options options_;
};

}  // namespace vxa
