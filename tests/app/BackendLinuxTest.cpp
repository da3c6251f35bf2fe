// The backends that only Linux has, as CreateBackend makes them.
#include <gtest/gtest.h>

#include <string>

#include "app/Backend.h"
#include "link/drivers/LibFtdiDriver.h"
#include "link/drivers/SerialPortDriver.h"

namespace vxa {
namespace {

BackendOptions Driver(std::string name, std::string port = {}) {
  BackendOptions options;
  options.driver = std::move(name);
  options.port = std::move(port);
  return options;
}

TEST(BackendTest, MakesTheBackendTheOptionsName) {
  std::string error;
  const auto serial = CreateBackend(Driver("serial", "/dev/ttyUSB0"), &error);
  ASSERT_NE(serial, nullptr);
  EXPECT_NE(dynamic_cast<SerialPortDriver*>(&serial->Driver()), nullptr);
  const auto ftdi = CreateBackend(Driver("libftdi"), &error);
  ASSERT_NE(ftdi, nullptr);
  EXPECT_NE(dynamic_cast<LibFtdiDriver*>(&ftdi->Driver()), nullptr);

  EXPECT_EQ(CreateBackend(Driver("libftdi", "/dev/ttyUSB0"), &error), nullptr);
  EXPECT_EQ(error, "a port name applies to the serial-port backend only");
  EXPECT_EQ(CreateBackend(Driver("d2xx", "/dev/ttyUSB0"), &error), nullptr);
  EXPECT_EQ(error, "a port name applies to the serial-port backend only");
  EXPECT_EQ(CreateBackend(Driver("usb"), &error), nullptr);
  // In the user's language, as every refusal of an option is.
  EXPECT_EQ(error, "неизвестный драйвер: usb (serial, libftdi или d2xx)");
}

}  // namespace
}  // namespace vxa
