#include "link/drivers/ComPortDriver.h"
#include "link/drivers/D2xxDriver.h"
#include "link/drivers/PlatformDrivers.h"
#include "text/Messages.h"

namespace vxa {

std::unique_ptr<FtDriver> CreateSystemSerialDriver(const std::string& port) {
  return std::make_unique<ComPortDriver>(port);
}

std::unique_ptr<FtDriver> CreateLibFtdiDriver(std::string* error) {
  // libftdi needs libusb's own USB driver in place of the vendor's: not a Windows set-up.
  if (error != nullptr) *error = FormatText(VXA_MSG(msg::kUnknownDriver), "libftdi", "serial, d2xx");
  return nullptr;
}

bool LibFtdiBuiltIn() { return false; }

const char* D2xxLibraryName() {
  return "ftd2xx.dll";
}

}  // namespace vxa
