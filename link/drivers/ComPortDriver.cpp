#include "link/drivers/ComPortDriver.h"

#include <algorithm>

#include "link/UsbChannel.h"
#include "link/drivers/ComPortDevice.h"
#include "text/Messages.h"

namespace vxa {

ComPortDriver::ComPortDriver(std::string port)
    : ListingDriver<ComPort>("port"), port_(std::move(port)) {}

FtStatus ComPortDriver::List(std::vector<ComPort>* ports) {
  ports->clear();
  if (!port_.empty()) {
    // Whether it exists is learnt by opening it: Windows lists no port it does not know of
    // (Wine's ports on pseudo-terminals among them).
    ports->push_back({port_, kDeviceDescription});
    return kFtOk;
  }
  *ports = ListFtdiComPorts();
  if (ports->empty()) {
    error_.Set(FormatText(VXA_MSG(msg::kNoFtdiDeviceFound), "COM, USB VID 0403"));
    return kFtDeviceNotFound;
  }
  return kFtOk;
}

FtStatus ComPortDriver::Open(const std::string& description, std::unique_ptr<FtDevice>* device) {
  std::vector<ComPort> ports;
  if (const FtStatus status = List(&ports); status != kFtOk) return status;
  // A port named by the user is the instrument by decree; listed ports must match exactly.
  const auto match = std::find_if(ports.begin(), ports.end(), [&](const ComPort& port) {
    return !port_.empty() || port.description == description;
  });
  if (match == ports.end()) {
    return NoneDescribedAs(description, ports, [](const ComPort& port) { return port.name; });
  }
  return OpenListed(*match, device);
}

FtStatus ComPortDriver::OpenListed(const ComPort& port, std::unique_ptr<FtDevice>* device) {
  ComPortDevice::Failure failure;
  std::unique_ptr<ComPortDevice> opened = ComPortDevice::Open(port.name, &failure);
  if (!opened) {
    error_.Set(std::move(failure.text));
    return failure.status;
  }
  *device = std::move(opened);
  return kFtOk;
}

}  // namespace vxa
