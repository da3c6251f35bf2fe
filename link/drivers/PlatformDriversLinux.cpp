#include "link/drivers/D2xxDriver.h"
#include "link/drivers/LibFtdiDriver.h"
#include "link/drivers/PlatformDrivers.h"
#include "link/drivers/SerialPortDriver.h"

namespace vxa {

std::unique_ptr<FtDriver> CreateSystemSerialDriver(const std::string& port) {
  return std::make_unique<SerialPortDriver>(port);
}

std::unique_ptr<FtDriver> CreateLibFtdiDriver(std::string*) {
  return std::make_unique<LibFtdiDriver>();
}

bool LibFtdiBuiltIn() { return true; }

const char* D2xxLibraryName() {
  return "libftd2xx.so";
}

}  // namespace vxa
