#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "link/drivers/SerialPortDriver.h"
#include "link/drivers/SerialPortIo.h"
#include "tests/drivers/PtyPair.h"
#include "tests/support/TempDir.h"
#include "text/Messages.h"

namespace vxa {
namespace {

namespace fs = std::filesystem;
constexpr const char* kInstrument = SerialPortDriver::kExplicitPortDescription;

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// A sysfs tree as the kernel lays it out for usb-serial ports, in a scratch directory: the
// tty's "device" link leads to the port, two levels below the USB device that carries the
// vendor id and the product string.
class FakeSysfs {
 public:
  explicit FakeSysfs(const fs::path& root) : sys_(root / "sys"), dev_(root / "dev") {
    fs::create_directories(sys_ / "class" / "tty");
    fs::create_directories(dev_);
  }

  void AddPort(const std::string& tty, const std::string& vendor, const std::string& product,
               const std::string& node = "") {
    const fs::path usb = sys_ / "devices" / "usb1" / ("1-" + tty);
    const fs::path port = usb / ("1-" + tty + ":1.0") / tty;
    fs::create_directories(port);
    WriteFile(usb / "idVendor", vendor + "\n");
    WriteFile(usb / "product", product + "\n");
    fs::create_directories(sys_ / "class" / "tty" / tty);
    fs::create_directory_symlink(port, sys_ / "class" / "tty" / tty / "device");
    WriteFile(LatencyFile(tty), "16\n");
    if (!node.empty()) fs::create_symlink(node, dev_ / tty);
  }
  fs::path LatencyFile(const std::string& tty) const {
    return sys_ / "bus" / "usb-serial" / "devices" / tty / "latency_timer";
  }
  SerialPortDriver::Options Options() const { return {"", sys_.string(), dev_.string()}; }

 private:
  fs::path sys_;
  fs::path dev_;
};

TEST(SerialPortDriverTest, ANamedPortIsOneDeviceWithTheInstrumentsDescription) {
  test::PtyPair pty;
  SerialPortDriver driver(pty.SlavePath());
  uint32_t count = 0;
  ASSERT_EQ(driver.CountDevices(&count), kFtOk);
  EXPECT_EQ(count, 1u);
  std::string description;
  ASSERT_EQ(driver.DeviceDescription(0, &description), kFtOk);
  EXPECT_EQ(description, kInstrument);
  EXPECT_EQ(driver.DeviceDescription(1, &description), kFtDeviceNotFound);

  // The user named the port: it is opened whatever description the program asks for.
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(driver.OpenByDescription("any other bridge", &device), kFtOk);
  uint32_t written = 0;
  ASSERT_EQ(device->SetTimeouts(1000, 1000), kFtOk);
  ASSERT_EQ(device->Write("ping", 4, &written), kFtOk);
  EXPECT_EQ(pty.Read(4), "ping");
}

TEST(SerialPortDriverTest, ANamedPortThatDoesNotExistIsNotFound) {
  SerialPortDriver driver("/dev/no-such-port-of-the-tests");
  uint32_t count = 7;
  EXPECT_EQ(driver.CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(count, 0u);
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(driver.OpenByDescription(kInstrument, &device), kFtDeviceNotFound);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(driver.LastError().find("/dev/no-such-port-of-the-tests"), std::string::npos);
}

TEST(SerialPortDriverTest, AFileThatIsNoTerminalIsRefused) {
  test::ScopedTempDir dir;
  WriteFile(dir.path() / "plain", "not a port");
  SerialPortDriver driver((dir.path() / "plain").string());
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(driver.OpenByDescription(kInstrument, &device), kFtDeviceNotOpened);
  EXPECT_EQ(driver.LastError(),
            FormatText(MessageText(msg::kNotSerialPort, 0), (dir.path() / "plain").c_str()));
}

TEST(SerialPortDriverTest, SysfsListingCountsEveryFtdiPortWhateverItsDescription) {
  test::ScopedTempDir dir;
  FakeSysfs sysfs(dir.path());
  sysfs.AddPort("ttyUSB10", "0403", "FT232R USB UART");
  sysfs.AddPort("ttyUSB2", "0403", kInstrument);
  sysfs.AddPort("ttyUSB0", "067b", "USB-Serial Controller");  // not an FTDI bridge
  SerialPortDriver driver(sysfs.Options());

  uint32_t count = 0;
  ASSERT_EQ(driver.CountDevices(&count), kFtOk);
  ASSERT_EQ(count, 2u);
  std::string first, second;
  ASSERT_EQ(driver.DeviceDescription(0, &first), kFtOk);
  ASSERT_EQ(driver.DeviceDescription(1, &second), kFtOk);
  EXPECT_EQ(first, kInstrument);  // ttyUSB2 comes before ttyUSB10
  EXPECT_EQ(second, "FT232R USB UART");
}

TEST(SerialPortDriverTest, SysfsOpenTakesThePortWithTheExactDescription) {
  test::ScopedTempDir dir;
  test::PtyPair pty;
  FakeSysfs sysfs(dir.path());
  sysfs.AddPort("ttyUSB0", "0403", "FT232R USB UART");
  sysfs.AddPort("ttyUSB1", "0403", kInstrument, pty.SlavePath());
  SerialPortDriver driver(sysfs.Options());

  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(driver.OpenByDescription(kInstrument, &device), kFtOk) << driver.LastError();
  uint32_t written = 0;
  ASSERT_EQ(device->SetTimeouts(1000, 1000), kFtOk);
  ASSERT_EQ(device->Write("hi", 2, &written), kFtOk);
  EXPECT_EQ(pty.Read(2), "hi");

  // A usb-serial port gets its latency timer through sysfs when that is writable.
  ASSERT_EQ(device->SetLatencyTimer(2), kFtOk);
  std::ifstream latency(sysfs.LatencyFile("ttyUSB1"));
  std::string value;
  latency >> value;
  EXPECT_EQ(value, "2");
}

TEST(SerialPortDriverTest, SysfsOpenWithADescriptionNobodyHasIsNotFound) {
  test::ScopedTempDir dir;
  FakeSysfs sysfs(dir.path());
  sysfs.AddPort("ttyUSB0", "0403", "FT232R USB UART");
  SerialPortDriver driver(sysfs.Options());
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(driver.OpenByDescription(kInstrument, &device), kFtDeviceNotFound);
  EXPECT_NE(driver.LastError().find("FT232R USB UART"), std::string::npos);

  FakeSysfs empty(dir.path() / "empty");
  SerialPortDriver none(empty.Options());
  uint32_t count = 5;
  EXPECT_EQ(none.CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(count, 0u);
}

TEST(SerialPortErrorsTest, FailuresNameTheirCause) {
  const serial::Failure denied = serial::DescribeOpenFailure(EACCES, "/dev/ttyUSB-of-the-tests");
  EXPECT_EQ(denied.status, kFtDeviceNotOpened);
  // Debian's ttyUSB group, when the node does not name another.
  EXPECT_EQ(denied.text, FormatText(MessageText(msg::kPortPermission, 0),
                                    "/dev/ttyUSB-of-the-tests", "dialout"));
  EXPECT_EQ(serial::DescribeOpenFailure(ENXIO, "/dev/ttyUSB0").status, kFtDeviceNotFound);
  EXPECT_EQ(serial::DescribeOpenFailure(EBUSY, "/dev/ttyUSB0").text,
            FormatText(MessageText(msg::kComPortBusy, 0), "/dev/ttyUSB0"));
  EXPECT_EQ(denied.cause, BridgeCause::kPermission);
  EXPECT_EQ(serial::DescribeOpenFailure(EBUSY, "/dev/ttyUSB0").cause, BridgeCause::kBusy);
  const serial::Failure gone = serial::DescribeIoFailure(EIO, "/dev/ttyUSB0", false);
  EXPECT_EQ(gone.status, kFtIoError);
  EXPECT_EQ(gone.cause, BridgeCause::kDisconnected);
  EXPECT_EQ(gone.text, MessageText(msg::kCauseDisconnected, 0));
}
}  // namespace
}  // namespace vxa
