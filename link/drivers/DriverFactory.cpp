#include "link/drivers/DriverFactory.h"

#include "link/drivers/LibFtdiDriver.h"
#include "link/drivers/SerialPortDriver.h"

namespace vxa {
namespace {

std::unique_ptr<FtDriver> Refuse(std::string* error, const char* why) {
  if (error != nullptr) *error = why;
  return nullptr;
}

}  // namespace

std::unique_ptr<FtDriver> CreateDriver(const DriverOptions& options, std::string* error) {
  switch (options.kind) {
    case DriverOptions::Kind::Serial:
      return std::make_unique<SerialPortDriver>(options.port);
    case DriverOptions::Kind::LibFtdi:
      if (!options.port.empty()) {
        return Refuse(error, "a port name applies to the serial-port backend only");
      }
      return std::make_unique<LibFtdiDriver>();
    case DriverOptions::Kind::Simulated:
      // The simulated instrument is a bus with an instrument behind it, owned and wired up by
      // the application together with its clock; it is not made here.
      return Refuse(error, "the simulated instrument is supplied by the application");
  }
  return Refuse(error, "unknown driver kind");
}

}  // namespace vxa
