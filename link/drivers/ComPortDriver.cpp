#include "link/drivers/ComPortDriver.h"

#include "link/UsbChannel.h"
#include "link/drivers/SerialLine.h"
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
    error_.Set(BridgeCause::kNoSuchPort,
               FormatText(VXA_MSG(msg::kNoFtdiDeviceFound), "COM, USB VID 0403"));
    return kFtDeviceNotFound;
  }
  return kFtOk;
}

FtStatus ComPortDriver::OpenListed(const ComPort& port, std::unique_ptr<FtDevice>* device) {
  serial::Failure failure;
  std::unique_ptr<SerialLine> opened = SerialLine::Open(PortLocation{.path = port.name}, &failure);
  if (!opened) {
    error_.Set(failure.cause, std::move(failure.text));
    return failure.status;
  }
  *device = std::move(opened);
  return kFtOk;
}

}  // namespace vxa
